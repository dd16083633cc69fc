"""Type information for mdlink: the market-data client library from Python."""

import datetime
import enum
import os
from typing import (Any, AsyncIterator, Callable, Dict, Iterable, Iterator, List, NamedTuple,
                    Optional, Sequence, Tuple, Union)

# typing.Self is Python 3.11's; the package runs from 3.9.
from typing_extensions import Self

__version__: str

DEFAULT_QUEUE_SIZE: int
DEFAULT_EVENT_QUEUE_SIZE: int
DEFAULT_ENCODING: str
class Reason(enum.IntEnum):
    """Disconnection reasons of the library; equal to their numbers."""
    LINK_LOST = 0x2001
    HEARTBEAT_TIMEOUT = 0x2002
    LOGIN_REFUSED = -1

class EventKind(str, enum.Enum):
    """What an Event is; each equal to its name as a str."""
    CONNECTED = "connected"
    DISCONNECTED = "disconnected"
    LOGIN = "login"
    SUBSCRIBED = "subscribed"
    UNSUBSCRIBED = "unsubscribed"
    FOR_QUOTE_SUBSCRIBED = "for_quote_subscribed"
    FOR_QUOTE_UNSUBSCRIBED = "for_quote_unsubscribed"
    FOR_QUOTE = "for_quote"
    LINK_UP = "link_up"
    LINK_DOWN = "link_down"

LINK_LOST: Reason
HEARTBEAT_TIMEOUT: Reason
MAX_LINKS: int
LATE_BOUNDS_US: Tuple[int, ...]

class Depth:
    """Depth market data of one instrument: the members of the interface's depth record,"""
    TradingDay: str
    InstrumentID: str
    ExchangeID: str
    ExchangeInstID: str
    LastPrice: float
    PreSettlementPrice: float
    PreClosePrice: float
    PreOpenInterest: float
    OpenPrice: float
    HighestPrice: float
    LowestPrice: float
    Volume: int
    Turnover: float
    OpenInterest: float
    ClosePrice: float
    SettlementPrice: float
    UpperLimitPrice: float
    LowerLimitPrice: float
    PreDelta: float
    CurrDelta: float
    UpdateTime: str
    UpdateMillisec: int
    BidPrice1: float
    BidVolume1: int
    AskPrice1: float
    AskVolume1: int
    BidPrice2: float
    BidVolume2: int
    AskPrice2: float
    AskVolume2: int
    BidPrice3: float
    BidVolume3: int
    AskPrice3: float
    AskVolume3: int
    BidPrice4: float
    BidVolume4: int
    AskPrice4: float
    AskVolume4: int
    BidPrice5: float
    BidVolume5: int
    AskPrice5: float
    AskVolume5: int
    AveragePrice: float
    ActionDay: str
    receive_time: int
    encoding: str
    def as_dict(self) -> Dict[str, Union[str, float, int]]: ...
    def raw(self, name: str) -> bytes: ...
    def to_bytes(self) -> bytes: ...
    @classmethod
    def from_bytes(cls, data: bytes, encoding: Optional[str] = None,
                   receive_time: int = 0) -> "Depth": ...

class LoginResponse:
    """The front's answer to a successful login."""
    TradingDay: str
    LoginTime: str
    BrokerID: str
    UserID: str
    SystemName: str
    FrontID: int
    SessionID: int
    MaxOrderRef: str
    SHFETime: str
    DCETime: str
    CZCETime: str
    FFEXTime: str
    INETime: str
    encoding: str
    def as_dict(self) -> Dict[str, Union[str, float, int]]: ...
    def raw(self, name: str) -> bytes: ...
    def to_bytes(self) -> bytes: ...
    @classmethod
    def from_bytes(cls, data: bytes, encoding: Optional[str] = None) -> "LoginResponse": ...

class RspInfo:
    """Outcome of a request: ErrorID 0 is success; ErrorMsg is decoded with the client's"""
    ErrorID: int
    ErrorMsg: str
    encoding: str
    def as_dict(self) -> Dict[str, Union[str, float, int]]: ...
    def raw(self, name: str) -> bytes: ...
    def to_bytes(self) -> bytes: ...
    @classmethod
    def from_bytes(cls, data: bytes, encoding: Optional[str] = None) -> "RspInfo": ...

class ForQuote:
    """A for-quote notice."""
    TradingDay: str
    InstrumentID: str
    ForQuoteSysID: str
    ForQuoteTime: str
    ActionDay: str
    ExchangeID: str
    encoding: str
    def as_dict(self) -> Dict[str, Union[str, float, int]]: ...
    def raw(self, name: str) -> bytes: ...
    def to_bytes(self) -> bytes: ...
    @classmethod
    def from_bytes(cls, data: bytes, encoding: Optional[str] = None) -> "ForQuote": ...

class ClosedError(RuntimeError):
    """A request on a closed client."""

class LoginError(Exception):
    """The front refused the login."""
    info: Optional[RspInfo]
    def __init__(self, info: Optional[RspInfo]) -> None: ...

class LoginTimeoutError(TimeoutError):
    """No login answer in time; `reason` is the last disconnection's, or None."""
    reason: Optional[int]
    def __init__(self, message: str, reason: Optional[int] = ...) -> None: ...

def api_version() -> str:
    """The library's version text."""

def reason_text(reason: int) -> str:
    """What a disconnection reason means."""

def depth_dtype(with_time: bool = ...) -> Any:
    """The numpy dtype of Client.batch() rows (the depth record's members at their offsets)."""

def exchange_times(records: Any, holidays: Iterable[Any] = ...) -> Any:
    """The exchange time of each row of a batch (datetime64[ns])."""

def to_frame(records: Any, encoding: Optional[str] = ..., holidays: Iterable[Any] = ..., *,
             aware: Optional[bool] = ...) -> Any:
    """A pandas DataFrame of depth records, with exchange_time and receive_time."""

class Event:
    """Something that happened on the link."""
    kind: EventKind
    reason: int
    login: Optional[LoginResponse]
    error: Optional[RspInfo]
    instrument_id: Optional[str]
    request_id: int
    is_last: bool
    notice: Optional[ForQuote]
    link: Optional[int]
    fronts: Optional[str]
    def __init__(self, kind: str, reason: int = ..., login: Optional[LoginResponse] = ...,
                 error: Optional[RspInfo] = ..., instrument_id: Optional[str] = ...,
                 request_id: int = ..., is_last: bool = ...,
                 notice: Optional[ForQuote] = ..., link: Optional[int] = ...,
                 fronts: Optional[str] = ...) -> None: ...
    @property
    def ok(self) -> bool: ...

class Handler:
    """Base class of push-style handlers; methods run on the library's thread."""
    def on_connected(self) -> None: ...
    def on_disconnected(self, reason: int) -> None: ...
    def on_login(self, login: Optional[LoginResponse], error: Optional[RspInfo]) -> None: ...
    def on_subscribed(self, event: Event) -> None: ...
    def on_for_quote(self, notice: ForQuote) -> None: ...
    def on_link_down(self, link: int, fronts: str, reason: int) -> None: ...
    def on_link_up(self, link: int, fronts: str) -> None: ...
    def on_depth(self, tick: Depth) -> None: ...

class _TickReader:
    """What Client and BusReader share: depth records read off their queue,
    closing, and the with protocol."""
    def close(self) -> None: ...
    @property
    def closed(self) -> bool: ...
    @property
    def at_end(self) -> bool: ...
    def __enter__(self) -> Self: ...
    def __exit__(self, *exc: Any) -> None: ...
    async def __aenter__(self) -> Self: ...
    async def __aexit__(self, *exc: Any) -> None: ...
    def next_tick(self, timeout: Optional[float] = ...) -> Optional[Depth]: ...
    def ticks(self, timeout: Optional[float] = ...) -> Iterator[Depth]: ...
    async def anext_tick(self, timeout: Optional[float] = ...) -> Optional[Depth]: ...
    def aticks(self, timeout: Optional[float] = ...) -> AsyncIterator[Depth]: ...
    def batch(self, max_records: int = ..., timeout: Optional[float] = ...,
              min_records: int = ..., *, with_time: bool = ...) -> Any: ...
    async def abatch(self, max_records: int = ..., timeout: Optional[float] = ...,
                     min_records: int = ..., *, with_time: bool = ...) -> Any: ...
    def batch_bytes(self, max_records: int = ..., timeout: Optional[float] = ...,
                    min_records: int = ..., *, with_time: bool = ...) -> bytearray: ...
    @property
    def received(self) -> int: ...
    @property
    def consumed(self) -> int: ...
    @property
    def dropped(self) -> int: ...
    def counters(self) -> Dict[str, int]: ...
    @property
    def queued(self) -> int: ...
    @property
    def queue_size(self) -> int: ...
    @property
    def waiting(self) -> int: ...
    @property
    def encoding(self) -> str: ...

class Client(_TickReader):
    """One market-data client: a link to one of `fronts` at a time."""
    @property
    def fronts(self) -> Tuple[str, ...]: ...
    def __init__(self, fronts: Union[str, Sequence[str]], broker: str = ..., user: str = ...,
                 password: str = ..., *, handler: Optional[Any] = ...,
                 queue_size: int = ..., event_queue_size: int = ...,
                 encoding: str = ..., links: int = ...,
                 on_tick: Optional[Callable[[Depth], Any]] = ...,
                 on_event: Optional[Callable[["Event"], Any]] = ...,
                 capture: Optional[Union[str, "os.PathLike[str]"]] = ...) -> None: ...
    def link_counters(self) -> List[Dict[str, Any]]: ...
    def metrics(self) -> Dict[str, Any]: ...
    def capture_stats(self) -> Optional[Dict[str, Any]]: ...
    def join(self, timeout: Optional[float] = ...) -> bool: ...
    def subscribe(self, instrument_ids: Union[str, Iterable[str]]) -> None: ...
    def unsubscribe(self, instrument_ids: Union[str, Iterable[str]]) -> None: ...
    def subscribe_for_quotes(self, instrument_ids: Union[str, Iterable[str]]) -> None: ...
    def unsubscribe_for_quotes(self, instrument_ids: Union[str, Iterable[str]]) -> None: ...
    def wait_login(self, timeout: Optional[float] = ...) -> LoginResponse: ...
    async def await_login(self, timeout: Optional[float] = ...) -> LoginResponse: ...
    def next_event(self, timeout: Optional[float] = ...) -> Optional[Event]: ...
    def events(self, timeout: Optional[float] = ...) -> Iterator[Event]: ...
    async def anext_event(self, timeout: Optional[float] = ...) -> Optional[Event]: ...
    def aevents(self, timeout: Optional[float] = ...) -> AsyncIterator[Event]: ...
    @property
    def connected(self) -> bool: ...
    @property
    def logged_in(self) -> bool: ...
    @property
    def events_dropped(self) -> int: ...
    @property
    def callback_errors(self) -> int: ...
    @property
    def last_disconnect_reason(self) -> Optional[int]: ...

class BusError(ConnectionError):
    """BusReader could not reach the bus, log in, or find the stream."""

class BusReader(_TickReader):
    """Depth records that mdrelay published, read back from its NATS JetStream stream."""
    servers: Tuple[str, ...]
    def __init__(self, servers: Union[str, Sequence[str]],
                 instruments: Optional[Union[str, Iterable[str]]] = ...,
                 since: Optional[Union[datetime.datetime, datetime.timedelta, str, int]] = ...,
                 *, last: Optional[int] = ..., from_start: bool = ..., to_end: bool = ...,
                 durable: Optional[str] = ..., stream: str = ..., prefix: str = ...,
                 user: str = ..., password: str = ..., token: str = ..., creds: str = ...,
                 tls_ca: str = ..., tls_cert: str = ..., tls_key: str = ..., name: str = ...,
                 queue_size: int = ..., encoding: str = ...) -> None: ...
    @property
    def skipped(self) -> int: ...

# ---- capture files ----

_Paths = Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]]]
#: A receive time: a datetime (naive: local), a numpy datetime64 or a naive
#: pandas Timestamp (UTC), or ns since the epoch.
_Time = Union[datetime.datetime, int, Any]

class CaptureError(ValueError):
    """A damaged capture file: the message names the file and the offset."""

class CaptureBlock(NamedTuple):
    offset: int
    first_ns: int
    last_ns: int
    records: int
    compressed_bytes: int
    raw_bytes: int

class CaptureIndex(NamedTuple):
    path: str
    version: int
    writer: str
    trading_day: str
    fronts: Tuple[str, ...]
    blocks: List[CaptureBlock]
    fault: str

def capture_files(paths: _Paths) -> List[str]: ...
def read_capture(paths: _Paths, instruments: Optional[Union[str, Iterable[str]]] = ...,
                 start: Optional[_Time] = ..., end: Optional[_Time] = ..., *,
                 encoding: str = ...) -> Any: ...
def iter_capture(paths: _Paths, instruments: Optional[Union[str, Iterable[str]]] = ...,
                 start: Optional[_Time] = ..., end: Optional[_Time] = ..., *,
                 max_records: int = ..., encoding: str = ...) -> Iterator[Any]: ...
def capture_index(path: Union[str, "os.PathLike[str]"]) -> CaptureIndex: ...
def write_capture(directory: Union[str, "os.PathLike[str]"], records: Any, *, writer: str = ...,
                  fronts: Iterable[str] = ...) -> Dict[str, Any]: ...
