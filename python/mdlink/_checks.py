"""Arguments checked before they reach the compiled part: a wrong type
raises TypeError, a wrong value ValueError, each naming the argument and
what it accepts."""

import codecs
import math
import numbers
import os
import sys

#: The only scheme the library speaks; it reads the six characters as a prefix.
SCHEME = "tcp://"
#: Longest host name the library takes in a front address.
MAX_HOST = 127
#: Longest instrument id, in bytes after encoding (the records' 31-byte member).
MAX_ID_BYTES = 30
#: Bytes each login text may take (the login record's members, less the NUL).
LOGIN_BYTES = {"broker": 10, "user": 15, "password": 40}

#: Characters every usable codec writes as ASCII bytes.
_ASCII = "".join(map(chr, range(1, 128)))

_HANDLER_METHODS = ("on_connected", "on_disconnected", "on_login", "on_subscribed",
                    "on_for_quote", "on_depth")


def _kind(value):
    return type(value).__name__


def _strings(name, value, example):
    """A str, or an iterable of them, as a list (not checked one by one)."""
    if isinstance(value, str):
        return [value]
    if isinstance(value, (bytes, bytearray)):
        raise TypeError(f"{name} must be a str or a list of str such as {example!r}, not bytes")
    try:
        return list(value)
    except TypeError:
        raise TypeError(f"{name} must be a str or a list of str such as {example!r}, "
                        f"not {_kind(value)}") from None


def _encode(name, text, encoding):
    try:
        return text.encode(encoding)
    except UnicodeEncodeError as e:
        raise ValueError(f"{name} {text!r} cannot be written in the client's encoding "
                         f"{encoding} ({e.reason})") from None


def _front_problem(text):
    if not text.startswith(SCHEME):
        return f"it does not start with {SCHEME!r}, the only scheme the library speaks"
    if any(c.isspace() or c == "\0" for c in text):
        return "it contains white space or NUL"
    host, colon, port = text[len(SCHEME):].rpartition(":")
    if not colon or not host:
        return "it has no host and port"
    if len(host) > MAX_HOST:
        return f"its host is longer than {MAX_HOST} characters"
    if not (port.isascii() and port.isdigit()) or not 1 <= int(port) <= 65535:
        return f"its port {port!r} is not a number from 1 to 65535"
    return None


def fronts(value):
    """Front addresses, 'tcp://host:port' each, at least one."""
    example = "tcp://127.0.0.1:41213"
    value = _strings("fronts", value, example)
    if not value:
        raise ValueError(f"fronts: at least one front address is needed, such as {example!r}")
    for i, text in enumerate(value):
        if not isinstance(text, str):
            raise TypeError(f"fronts[{i}] must be a str such as {example!r}, not {_kind(text)}")
        problem = _front_problem(text)
        if problem:
            raise ValueError(f"fronts[{i}] {text!r} is not a front address: {problem}; "
                             f"expected 'tcp://host:port', such as {example!r}")
    return value


def encoding(value):
    """The codec's canonical name. Ids, logins and the records' texts are
    ASCII-based byte strings: a codec that writes ASCII otherwise (UTF-16,
    EBCDIC) is refused."""
    if not isinstance(value, str):
        raise TypeError(f"encoding must be a str naming a codec, not {_kind(value)}")
    try:
        info = codecs.lookup(value)
    except LookupError:
        raise ValueError(f"encoding {value!r} is no codec Python knows; use one such as "
                         f"'gb18030' or 'utf-8'") from None
    try:
        same = _ASCII.encode(info.name) == _ASCII.encode("ascii")
    except (UnicodeError, TypeError, LookupError):
        same = False  # a codec of bytes to bytes, such as 'base64'
    if not same:
        raise ValueError(f"encoding {value!r} does not write ASCII as ASCII, as the records' "
                         f"texts are; use one such as 'gb18030' or 'utf-8'")
    return info.name


def login_text(name, value, codec):
    """broker, user or password, encoded, fitting its member of the login record."""
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {_kind(value)}")
    data = _encode(name, value, codec)
    most = LOGIN_BYTES[name]
    if b"\0" in data or len(data) > most:
        raise ValueError(f"{name} must be at most {most} bytes in {codec} with no NUL; "
                         f"it is {len(data)} bytes")
    return data


def instrument_ids(value, codec):
    """Instrument ids encoded with the client's codec: 1 to 30 bytes each, no NUL."""
    value = _strings("instrument_ids", value, ["au2612", "IF2612"])
    encoded = []
    for i, text in enumerate(value):
        name = f"instrument_ids[{i}]"
        if not isinstance(text, str):
            raise TypeError(f"{name} must be a str, not {_kind(text)}")
        data = _encode(name, text, codec)
        if not 1 <= len(data) <= MAX_ID_BYTES or b"\0" in data:
            raise ValueError(f"{name} {text!r} is not an instrument id: an id is 1 to "
                             f"{MAX_ID_BYTES} bytes in {codec} with no NUL, this is {len(data)}")
        encoded.append(data)
    return encoded


#: The largest count the compiled part takes.
MAX_COUNT = sys.maxsize


def joined_instrument_ids(value, codec):
    """instrument_ids(value, codec) as one buffer, each id followed by a NUL:
    no Python object per id on the way to the library. Ids all in ASCII (a
    universe of a million, say) are checked at once; otherwise, or when one
    is wrong, one by one."""
    value = _strings("instrument_ids", value, ["au2612", "IF2612"])
    if not value:
        return b""
    try:
        text = "\0".join(value)
    except TypeError:
        text = None  # an id that is no str: named below
    if (text is not None and text.isascii() and text.count("\0") == len(value) - 1
            and min(map(len, value)) >= 1 and max(map(len, value)) <= MAX_ID_BYTES):
        return text.encode("ascii") + b"\0"  # every codec accepted writes ASCII as is
    return b"\0".join(instrument_ids(value, codec)) + b"\0"


def count(name, value, least=0, most=MAX_COUNT):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an int, not {_kind(value)}")
    if value < least:
        raise ValueError(f"{name} must be at least {least}, not {value}")
    if value > most:
        raise ValueError(f"{name} must be at most {most}, not {value}")
    return int(value)


def timeout(value):
    """Seconds as a float, or None for no limit (None or math.inf). NaN and
    negative values are refused: a wait cannot end before it starts."""
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"timeout must be a number of seconds or None, not {_kind(value)}")
    value = float(value)
    if math.isnan(value) or value < 0:
        raise ValueError(f"timeout must be a number of seconds from 0 (math.inf or None: "
                         f"no limit), not {value}")
    return None if math.isinf(value) else value


def directory(name, value):
    """A directory path (str or os.PathLike) as a str, or None."""
    if value is None:
        return None
    if not isinstance(value, (str, os.PathLike)) or isinstance(value, bytes):
        raise TypeError(f"{name} must be a directory path (str or os.PathLike), not "
                        f"{_kind(value)}")
    value = os.fspath(value)
    if not isinstance(value, str) or not value or "\0" in value:
        raise ValueError(f"{name} must be a directory path, not {value!r}")
    return value


def callback(name, value):
    """A plain callable given for one kind of callback (or None)."""
    if value is not None and not callable(value):
        raise TypeError(f"{name} must be a callable such as a function, not {_kind(value)}")
    return value


def handler(value, on_tick=None, on_event=None):
    if value is not None and (on_tick is not None or on_event is not None):
        raise TypeError("give either handler or on_tick and on_event, not both")
    if value is None:
        return None
    from ._events import Handler
    if isinstance(value, type):
        raise TypeError(f"handler must be an object, not the class {value.__name__}: "
                        f"pass {value.__name__}()")
    if not isinstance(value, Handler) and not any(
            callable(getattr(value, m, None)) for m in _HANDLER_METHODS):
        raise TypeError(f"handler must be a mdlink.Handler or define at least one of "
                        f"{', '.join(_HANDLER_METHODS)}; {_kind(value)} has none")
    return value
