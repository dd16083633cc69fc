"""Type information for mdlink.dask: capture files as a Dask DataFrame."""

import datetime
import os
from typing import Any, Iterable, Optional, Sequence, Union

def read_captures(paths: Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]]],
                  instruments: Optional[Union[str, Iterable[str]]] = ...,
                  start: Optional[Union[datetime.datetime, int, Any]] = ...,
                  end: Optional[Union[datetime.datetime, int, Any]] = ..., *,
                  partition_records: Optional[int] = ..., encoding: str = ...,
                  aware: bool = ...) -> Any: ...
