"""Depth records as a pandas DataFrame, with each record's exchange time.

The exchange time is the record's calendar day at the exchange plus
``UpdateTime`` and ``UpdateMillisec``, in the exchange's local time: no time
zone attached, as numpy has none (``to_frame(aware=True)`` attaches
Asia/Shanghai). Night sessions belong to the next trading day, and their
``UpdateTime`` wraps past midnight, so the calendar day comes from
``TradingDay`` by one rule:

- ``UpdateTime`` from 18:00:00 on: the business day before ``TradingDay``
  (the session that opens the trading day the evening before: Friday
  evening for a Monday);
- before 06:00:00: the calendar day after that evening (past midnight);
- otherwise: ``TradingDay`` itself.

Within one trading day this orders records as the exchange made them.
``ActionDay`` is used only when ``TradingDay`` is not a date (exchanges
disagree on what it holds at night). A record whose day or time does not
read as one (or whose ``UpdateMillisec`` is not 0 to 999) gets NaT.
"""

import datetime
import warnings

from . import _checks
from ._reader import DEFAULT_ENCODING, depth_dtype

#: The exchanges' time zone (China Standard Time, no daylight saving since 1991).
EXCHANGE_TZ = "Asia/Shanghai"

#: UpdateTime from which a record belongs to the evening before its trading day.
EVENING_FROM = 18 * 3600
#: UpdateTime before which a record belongs to the night after that evening.
NIGHT_UNTIL = 6 * 3600

TEXT_MEMBERS = ("TradingDay", "InstrumentID", "ExchangeID", "ExchangeInstID", "UpdateTime",
                "ActionDay")


def _raw(column):
    """A column of fixed-width texts as rows of bytes."""
    import numpy as np
    return np.frombuffer(column.tobytes(), dtype=np.uint8).reshape(len(column),
                                                                  column.dtype.itemsize)


def _digits(raw, positions):
    """The bytes at `positions` of each row as ints, and whether all are digits."""
    picked = raw[:, positions].astype("i8") - ord("0")
    return picked, ((picked >= 0) & (picked <= 9)).all(axis=1)


def _dates(column):
    """'YYYYMMDD' texts as datetime64[D]; NaT where a text is no date."""
    import numpy as np
    raw = _raw(column)
    d, ok = _digits(raw, list(range(8)))
    if raw.shape[1] > 8:
        ok &= raw[:, 8] == 0  # eight characters, no more
    year = d[:, 0] * 1000 + d[:, 1] * 100 + d[:, 2] * 10 + d[:, 3]
    month = d[:, 4] * 10 + d[:, 5]
    day = d[:, 6] * 10 + d[:, 7]
    ok &= (month >= 1) & (month <= 12) & (day >= 1) & (day <= 31)
    months = np.where(ok, (year - 1970) * 12 + month - 1, 0).astype("M8[M]")
    dates = months.astype("M8[D]") + np.where(ok, day - 1, 0)
    ok &= dates.astype("M8[M]") == months  # 31 November is no date
    return np.where(ok, dates, np.datetime64("NaT", "D"))


def _seconds(column):
    """'HH:MM:SS' texts as seconds of the day; -1 where a text is no time."""
    import numpy as np
    raw = _raw(column)
    d, ok = _digits(raw, [0, 1, 3, 4, 6, 7])
    ok &= (raw[:, 2] == ord(":")) & (raw[:, 5] == ord(":"))
    hours, minutes, seconds = d[:, 0] * 10 + d[:, 1], d[:, 2] * 10 + d[:, 3], d[:, 4] * 10 + d[:, 5]
    ok &= (hours < 24) & (minutes < 60) & (seconds < 60)
    return np.where(ok, hours * 3600 + minutes * 60 + seconds, -1)


def exchange_times(records, holidays=()):
    """The exchange time of each row of a batch, as datetime64[ns] (see the
    module's rule). ``holidays``: dates that are no business day, for the
    evening before a trading day."""
    import numpy as np
    holidays = _holidays(holidays)
    if not isinstance(records, np.ndarray) or not records.dtype.names or \
            "TradingDay" not in records.dtype.names:
        raise TypeError("exchange_times takes Client.batch()'s array of depth records, not "
                        f"{type(records).__name__}")
    trading = _dates(records["TradingDay"])
    seconds = _seconds(records["UpdateTime"])
    known = ~np.isnat(trading)
    evening = trading.copy()
    evening[known] = np.busday_offset(trading[known], -1, roll="forward", holidays=holidays)
    day = np.where(seconds >= EVENING_FROM, evening,
                   np.where(seconds < NIGHT_UNTIL, evening + 1, trading))
    day = np.where(known, day, _dates(records["ActionDay"]))
    millis = records["UpdateMillisec"].astype(np.int64)
    nanos = (seconds * 1000 + millis) * 1_000_000
    times = day.astype("M8[ns]") + nanos.astype("m8[ns]")
    valid = (seconds >= 0) & (millis >= 0) & (millis < 1000)
    return np.where(valid, times, np.datetime64("NaT", "ns"))


def _decode(column, encoding):
    import numpy as np
    try:
        return column.astype("U").astype(object)
    except UnicodeDecodeError:
        return np.array([b.decode(encoding, "replace") for b in column.tolist()], dtype=object)


def _holidays(value):
    """Dates as numpy takes them, each checked: a wrong one is named."""
    import numpy as np
    if isinstance(value, (str, bytes)):
        raise TypeError(f"holidays must be a list of dates, not {type(value).__name__}")
    try:
        days = list(value)
    except TypeError:
        raise TypeError(f"holidays must be a list of dates, not "
                        f"{type(value).__name__}") from None
    for i, day in enumerate(days):
        if not isinstance(day, (str, datetime.date, np.datetime64)):
            raise TypeError(f"holidays[{i}] must be a date ('YYYY-MM-DD', a datetime.date or "
                            f"a numpy.datetime64), not {type(day).__name__}")
        try:
            np.datetime64(day, "D")
        except ValueError:
            raise ValueError(f"holidays[{i}] {day!r} is not a date such as "
                             f"'2026-10-01'") from None
    return days


def _as_records(data):
    """(the records as an array of depth_dtype, the codec their texts were
    written in, if they tell)."""
    import numpy as np
    what = "to_frame takes depth records: Client.batch()'s array, or Depth objects"
    if isinstance(data, np.ndarray):
        if not data.dtype.names or "TradingDay" not in data.dtype.names:
            raise TypeError(f"{what}, not an array of {data.dtype}")
        return data, (data.dtype.metadata or {}).get("encoding")
    if isinstance(data, (bytes, bytearray, memoryview, str)) or not hasattr(data, "__iter__"):
        raise TypeError(f"{what}, not {type(data).__name__}")
    from ._compiled import _core
    ticks = list(data)
    codecs = set()
    for i, t in enumerate(ticks):
        if not isinstance(t, _core.Depth):
            raise TypeError(f"{what}: records[{i}] is a {type(t).__name__}")
        codecs.add(t.encoding)
    if len(codecs) > 1:
        raise ValueError(f"the records' texts are in {' and '.join(sorted(codecs))}: "
                         f"give to_frame the encoding")
    joined = b"".join(t.to_bytes() + t.receive_time.to_bytes(8, "little", signed=True)
                      for t in ticks)
    records = np.frombuffer(joined, dtype=depth_dtype(with_time=True))
    return records, codecs.pop() if codecs else None


def to_frame(records, encoding=None, holidays=(), *, aware=None):
    """A pandas DataFrame of depth records (``Client.batch()``'s array, or
    Depth objects): the members by name, ids and texts as ``str`` (decoded
    with ``encoding``; by default the client's that read them, which the
    records carry, else the package's default), ``exchange_time`` (see
    :func:`exchange_times`) and, when the records carry it,
    ``receive_time``.

    ``aware=True``: both times zone-aware, ``exchange_time`` in
    Asia/Shanghai and ``receive_time`` in UTC, so that subtracting one from
    the other is right. ``aware=False``: as numpy holds them, naive:
    ``exchange_time`` the exchange's wall clock, ``receive_time`` UTC. Not
    given: naive, with a FutureWarning; the default becomes True in the next
    release."""
    import pandas as pd
    if aware is None:
        warnings.warn("to_frame's times become zone-aware by default in the next release; "
                      "pass aware=True (or aware=False to keep them naive)", FutureWarning,
                      stacklevel=2)
    elif not isinstance(aware, bool):
        raise TypeError(f"aware must be True or False, not {type(aware).__name__}")
    records, theirs = _as_records(records)
    encoding = _checks.encoding(encoding if encoding is not None else theirs or DEFAULT_ENCODING)
    times = exchange_times(records, holidays)
    frame = pd.DataFrame(records)
    for name in TEXT_MEMBERS:
        frame[name] = _decode(records[name], encoding)
    at = frame.columns.get_loc("receive_time") if "receive_time" in frame else len(frame.columns)
    frame.insert(at, "exchange_time", times)
    if aware:
        frame["exchange_time"] = frame["exchange_time"].dt.tz_localize(
            EXCHANGE_TZ, ambiguous="NaT", nonexistent="NaT")
        if "receive_time" in frame:
            frame["receive_time"] = frame["receive_time"].dt.tz_localize("UTC")
    return frame
