"""Records as Python objects: layout, attributes, texts and their encodings."""

import ctypes
import pickle

import pytest

import mdlink
from conftest import optional


class DepthLayout(ctypes.Structure):
    """The depth record as a C compiler lays it out, written independently."""
    _fields_ = [("TradingDay", ctypes.c_char * 9), ("InstrumentID", ctypes.c_char * 31),
                ("ExchangeID", ctypes.c_char * 9), ("ExchangeInstID", ctypes.c_char * 31)] + \
        [(n, ctypes.c_double) for n in ("LastPrice", "PreSettlementPrice", "PreClosePrice",
                                        "PreOpenInterest", "OpenPrice", "HighestPrice",
                                        "LowestPrice")] + \
        [("Volume", ctypes.c_int)] + \
        [(n, ctypes.c_double) for n in ("Turnover", "OpenInterest", "ClosePrice",
                                        "SettlementPrice", "UpperLimitPrice", "LowerLimitPrice",
                                        "PreDelta", "CurrDelta")] + \
        [("UpdateTime", ctypes.c_char * 9), ("UpdateMillisec", ctypes.c_int)] + \
        [item for n in range(1, 6) for item in (
            (f"BidPrice{n}", ctypes.c_double), (f"BidVolume{n}", ctypes.c_int),
            (f"AskPrice{n}", ctypes.c_double), (f"AskVolume{n}", ctypes.c_int))] + \
        [("AveragePrice", ctypes.c_double), ("ActionDay", ctypes.c_char * 9)]


def sample_depth():
    d = DepthLayout()
    for i, (name, ctype) in enumerate(DepthLayout._fields_):
        if ctype is ctypes.c_double:
            setattr(d, name, 0.5 + i)
        elif ctype is ctypes.c_int:
            setattr(d, name, -7 * i)
    d.InstrumentID = b"au2612"
    d.ExchangeID = b"SHFE"
    d.UpdateTime = b"09:30:01"
    return d


def test_depth_members_mirror_the_record_layout():
    table = mdlink._core.members("Depth")
    assert [m[0] for m in table] == [f[0] for f in DepthLayout._fields_]
    for name, kind, offset, size in table:
        assert offset == getattr(DepthLayout, name).offset, name
        assert size == getattr(DepthLayout, name).size, name
    assert ctypes.sizeof(DepthLayout) == 408


def test_numpy_dtype_mirrors_members_and_offsets():
    np = optional("numpy")
    dtype = mdlink.depth_dtype()
    assert dtype.itemsize == ctypes.sizeof(DepthLayout)
    assert list(dtype.names) == [f[0] for f in DepthLayout._fields_]
    for name, ctype in DepthLayout._fields_:
        assert dtype.fields[name][1] == getattr(DepthLayout, name).offset, name
    row = np.frombuffer(bytes(sample_depth()), dtype=dtype)[0]
    assert row["InstrumentID"] == b"au2612"
    assert row["Volume"] == sample_depth().Volume
    assert row["AveragePrice"] == sample_depth().AveragePrice


def test_depth_attributes_read_every_member():
    raw = sample_depth()
    tick = mdlink.Depth.from_bytes(bytes(raw))
    d = tick.as_dict()
    assert list(d) == [f[0] for f in DepthLayout._fields_]
    for name, ctype in DepthLayout._fields_:
        expected = getattr(raw, name)
        if isinstance(expected, bytes):
            expected = expected.decode()
        assert getattr(tick, name) == expected, name
        assert d[name] == expected, name
        assert type(d[name]) is type(expected), name
    assert tick.to_bytes() == bytes(raw)


@pytest.mark.parametrize("data, encoding, text", [
    ("登录失败".encode("gb18030"), None, "登录失败"),            # the default codec
    (b"plain ascii", None, "plain ascii"),
    ("caf\u00e9".encode("utf-8"), "utf-8", "caf\u00e9"),
    (b"bad \xff\xfe end", "utf-8", "bad \ufffd\ufffd end"),     # replaced, never raised
    (b"x" * 81, None, "x" * 81),                               # no NUL: the whole width
])
def test_texts_are_decoded_with_the_chosen_encoding(data, encoding, text):
    raw = (7).to_bytes(4, "little") + data[:81].ljust(81, b"\0")
    info = mdlink.RspInfo.from_bytes(raw, encoding)
    assert info.ErrorID == 7
    assert info.ErrorMsg == text
    assert info.raw("ErrorMsg") == data[:81]
    assert info.encoding == (encoding or mdlink.DEFAULT_ENCODING)


def test_short_buffer_reads_as_zero_and_long_one_is_refused():
    tick = mdlink.Depth.from_bytes(b"20261208\0au")
    assert (tick.TradingDay, tick.InstrumentID, tick.LastPrice, tick.AskVolume5) == \
        ("20261208", "au", 0.0, 0)
    with pytest.raises(ValueError):
        mdlink.RspInfo.from_bytes(b"\0" * 89)
    with pytest.raises(KeyError):
        tick.raw("LastPrice")


def test_records_compare_pickle_and_are_read_only():
    a = mdlink.Depth.from_bytes(bytes(sample_depth()))
    b = pickle.loads(pickle.dumps(a))
    assert a == b and type(b) is mdlink.Depth
    assert a != mdlink.Depth.from_bytes(b"")
    with pytest.raises(AttributeError):
        a.LastPrice = 1.0
    with pytest.raises(TypeError):
        hash(a)
    assert "au2612" in repr(a)


def test_version_text():
    assert mdlink.api_version().count(".") == 3


def test_type_stubs_name_every_public_name_and_member():
    import ast
    import os
    stub = os.path.join(os.path.dirname(mdlink.__file__), "__init__.pyi")
    tree = ast.parse(open(stub).read())
    declared = {n.name for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    declared |= {n.target.id for n in tree.body if isinstance(n, ast.AnnAssign)}
    assert set(mdlink.__all__) <= declared
    classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
    extras = {"encoding", "receive_time"}
    for record in ("Depth", "LoginResponse", "RspInfo", "ForQuote"):
        fields = [n.target.id for n in classes[record].body if isinstance(n, ast.AnnAssign)]
        assert [f for f in fields if f not in extras] == \
            [m[0] for m in mdlink._core.members(record)], record

    def stub_names(name):
        node = classes[name]
        names = {n.name for n in node.body if isinstance(n, (ast.FunctionDef, ast.AsyncFunctionDef))}
        names |= {n.target.id for n in node.body if isinstance(n, ast.AnnAssign)}
        for base in node.bases:
            names |= stub_names(base.id)
        return names

    for cls in (mdlink.Client, mdlink.BusReader):
        public = {n for n in dir(cls) if not n.startswith("_")}
        assert public <= stub_names(cls.__name__), cls.__name__
