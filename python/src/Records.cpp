#include "Records.h"

#include "MdApi.h"
#include "wire/DepthMembers.h"

#include <structmember.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace mdpy {

namespace {

enum class MemberKind { Text, Double, Int };

struct Member {
    const char* name;
    MemberKind kind;
    std::size_t offset;
    std::size_t size;
};

#define MDPY_TEXT(R, m)                                                                                      \
    {                                                                                                        \
#m, MemberKind::Text, offsetof(R, m), sizeof(R::m)                                                   \
    }
#define MDPY_DBL(R, m)                                                                                       \
    {                                                                                                        \
#m, MemberKind::Double, offsetof(R, m), sizeof(double)                                               \
    }
#define MDPY_INT(R, m)                                                                                       \
    {                                                                                                        \
#m, MemberKind::Int, offsetof(R, m), sizeof(int)                                                     \
    }

// The depth record's members in their order, from their one list.
#define MDPY_DEPTH(kind, name, offset, width) {#name, MemberKind::kind, offset, width},
const Member DepthMembers[] = {MDLINK_DEPTH_MEMBERS(MDPY_DEPTH)};
#undef MDPY_DEPTH

using L = CThostFtdcRspUserLoginField;
const Member LoginMembers[] = {
    MDPY_TEXT(L, TradingDay), MDPY_TEXT(L, LoginTime), MDPY_TEXT(L, BrokerID), MDPY_TEXT(L, UserID),
    MDPY_TEXT(L, SystemName), MDPY_INT(L, FrontID),    MDPY_INT(L, SessionID), MDPY_TEXT(L, MaxOrderRef),
    MDPY_TEXT(L, SHFETime),   MDPY_TEXT(L, DCETime),   MDPY_TEXT(L, CZCETime), MDPY_TEXT(L, FFEXTime),
    MDPY_TEXT(L, INETime),
};

using I = CThostFtdcRspInfoField;
const Member RspInfoMembers[] = {MDPY_INT(I, ErrorID), MDPY_TEXT(I, ErrorMsg)};

using Q = CThostFtdcForQuoteRspField;
const Member ForQuoteMembers[] = {
    MDPY_TEXT(Q, TradingDay),   MDPY_TEXT(Q, InstrumentID), MDPY_TEXT(Q, ForQuoteSysID),
    MDPY_TEXT(Q, ForQuoteTime), MDPY_TEXT(Q, ActionDay),    MDPY_TEXT(Q, ExchangeID),
};

#undef MDPY_TEXT
#undef MDPY_DBL
#undef MDPY_INT

struct RecordInfo {
    const char* name; // qualified type name
    const char* doc;
    const Member* members;
    std::size_t count;
    std::size_t size;
    bool timed; // followed by its receive time (depth records)
    PyTypeObject* type;
    std::vector<PyMemberDef> memberDefs;
    std::vector<PyGetSetDef> getsets;
};

template <std::size_t N>
RecordInfo Info(const char* name, const char* doc, const Member (&m)[N], std::size_t size, bool timed = false)
{
    return RecordInfo{name, doc, m, N, size, timed, nullptr, {}, {}};
}

RecordInfo Infos[] = {
    Info("mdlink.Depth",
         "Depth market data of one instrument: the members of the interface's depth record,\n"
         "under the same names. Numbers are float or int, texts str. receive_time: when the\n"
         "library delivered it, nanoseconds since the epoch (0 when unknown).",
         DepthMembers, sizeof(CThostFtdcDepthMarketDataField), true),
    Info("mdlink.LoginResponse", "The front's answer to a successful login.", LoginMembers, sizeof(L)),
    Info("mdlink.RspInfo",
         "Outcome of a request: ErrorID 0 is success; ErrorMsg is decoded with the client's\n"
         "encoding (raw('ErrorMsg') gives the bytes).",
         RspInfoMembers, sizeof(I)),
    Info("mdlink.ForQuote", "A for-quote notice.", ForQuoteMembers, sizeof(Q)),
};

struct RecordObject {
    PyObject_HEAD PyObject* encoding;
    alignas(8) unsigned char data[8]; // the record, sized by the type
};

constexpr std::size_t DataOffset = offsetof(RecordObject, data);

PyObject* DefaultEncoding = nullptr;

RecordInfo* InfoOf(PyObject* self)
{
    for (RecordInfo& info : Infos)
        if (Py_TYPE(self) == info.type)
            return &info;
    return nullptr;
}

unsigned char* Bytes(PyObject* self)
{
    return reinterpret_cast<RecordObject*>(self)->data;
}

PyObject* EncodingOf(PyObject* self)
{
    PyObject* e = reinterpret_cast<RecordObject*>(self)->encoding;
    return e ? e : DefaultEncoding;
}

PyObject* MemberValue(PyObject* self, const Member& m)
{
    const unsigned char* p = Bytes(self) + m.offset;
    switch (m.kind) {
    case MemberKind::Text: return DecodeText(reinterpret_cast<const char*>(p), m.size, EncodingOf(self));
    case MemberKind::Double: {
        double v;
        std::memcpy(&v, p, sizeof v);
        return PyFloat_FromDouble(v);
    }
    case MemberKind::Int: {
        int v;
        std::memcpy(&v, p, sizeof v);
        return PyLong_FromLong(v);
    }
    }
    return nullptr;
}

PyObject* GetText(PyObject* self, void* closure)
{
    const Member* m = static_cast<const Member*>(closure);
    return DecodeText(reinterpret_cast<const char*>(Bytes(self) + m->offset), m->size, EncodingOf(self));
}

void Dealloc(PyObject* self)
{
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<RecordObject*>(self)->encoding);
    type->tp_free(self);
    Py_DECREF(type); // heap types are owned by their instances
}

PyObject* AsDict(PyObject* self, PyObject*)
{
    RecordInfo* info = InfoOf(self);
    PyObject* dict = PyDict_New();
    if (!dict)
        return nullptr;
    for (std::size_t i = 0; i < info->count; ++i) {
        PyObject* v = MemberValue(self, info->members[i]);
        if (!v || PyDict_SetItemString(dict, info->members[i].name, v) < 0) {
            Py_XDECREF(v);
            Py_DECREF(dict);
            return nullptr;
        }
        Py_DECREF(v);
    }
    return dict;
}

PyObject* Raw(PyObject* self, PyObject* name)
{
    RecordInfo* info = InfoOf(self);
    const char* wanted = PyUnicode_AsUTF8(name);
    if (!wanted)
        return nullptr;
    for (std::size_t i = 0; i < info->count; ++i) {
        const Member& m = info->members[i];
        if (m.kind != MemberKind::Text || std::strcmp(m.name, wanted) != 0)
            continue;
        const char* p = reinterpret_cast<const char*>(Bytes(self) + m.offset);
        const void* nul = std::memchr(p, 0, m.size);
        return PyBytes_FromStringAndSize(
            p, nul ? static_cast<const char*>(nul) - p : static_cast<Py_ssize_t>(m.size));
    }
    PyErr_Format(PyExc_KeyError, "%s has no text member %R", Py_TYPE(self)->tp_name, name);
    return nullptr;
}

// The receive time of a timed record sits right after the record.
std::int64_t* TimeOf(PyObject* self, const RecordInfo& info)
{
    return reinterpret_cast<std::int64_t*>(Bytes(self) + info.size);
}

PyObject* ToBytes(PyObject* self, PyObject*)
{
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(Bytes(self)),
                                     static_cast<Py_ssize_t>(InfoOf(self)->size));
}

// The codec's name as the package checks every encoding argument (an
// unknown one is refused even where the texts are ASCII and need none).
PyObject* CheckedEncoding(PyObject* encoding)
{
    PyObject* checks = PyImport_ImportModule("mdlink._checks");
    if (!checks)
        return nullptr;
    PyObject* name = PyObject_CallMethod(checks, "encoding", "O", encoding);
    Py_DECREF(checks);
    return name;
}

PyObject* FromBytes(PyObject* cls, PyObject* args, PyObject* kwargs)
{
    static const char* keywords[] = {"data", "encoding", "receive_time", nullptr};
    Py_buffer buf;
    PyObject* encoding = Py_None;
    long long nanos = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*|OL:from_bytes", const_cast<char**>(keywords), &buf,
                                     &encoding, &nanos))
        return nullptr;
    RecordKind kind = RecordKind::Count;
    for (std::size_t i = 0; i < std::size(Infos); ++i)
        if (reinterpret_cast<PyObject*>(Infos[i].type) == cls)
            kind = static_cast<RecordKind>(i);
    PyObject* result = nullptr;
    if (kind == RecordKind::Count)
        PyErr_SetString(PyExc_TypeError, "from_bytes: not a record type");
    else if (static_cast<std::size_t>(buf.len) > Infos[static_cast<int>(kind)].size)
        PyErr_Format(PyExc_ValueError, "from_bytes: %zd bytes, more than the record's %zu", buf.len,
                     Infos[static_cast<int>(kind)].size);
    else if (encoding != Py_None && !PyUnicode_Check(encoding))
        PyErr_SetString(PyExc_TypeError, "from_bytes: encoding must be a str or None");
    else if (nanos != 0 && !Infos[static_cast<int>(kind)].timed)
        PyErr_Format(PyExc_TypeError, "from_bytes: %s has no receive_time", Py_TYPE(cls)->tp_name);
    else if (encoding == Py_None)
        result = NewRecord(kind, buf.buf, static_cast<std::size_t>(buf.len), nullptr);
    else if (PyObject* codec = CheckedEncoding(encoding)) {
        result = NewRecord(kind, buf.buf, static_cast<std::size_t>(buf.len), codec);
        Py_DECREF(codec);
    }
    if (result && Infos[static_cast<int>(kind)].timed)
        *TimeOf(result, Infos[static_cast<int>(kind)]) = nanos;
    PyBuffer_Release(&buf);
    return result;
}

PyObject* Reduce(PyObject* self, PyObject*)
{
    PyObject* bytes = ToBytes(self, nullptr);
    if (!bytes)
        return nullptr;
    PyObject* from = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "from_bytes");
    if (!from) {
        Py_DECREF(bytes);
        return nullptr;
    }
    RecordInfo* info = InfoOf(self);
    if (info->timed)
        return Py_BuildValue("(N(NOL))", from, bytes, EncodingOf(self),
                             static_cast<long long>(*TimeOf(self, *info)));
    return Py_BuildValue("(N(NO))", from, bytes, EncodingOf(self));
}

PyObject* GetEncoding(PyObject* self, void*)
{
    PyObject* e = EncodingOf(self);
    Py_INCREF(e);
    return e;
}

PyObject* Repr(PyObject* self)
{
    RecordInfo* info = InfoOf(self);
    PyObject* dict = AsDict(self, nullptr);
    if (!dict)
        return nullptr;
    const char* shortName = std::strrchr(info->name, '.') + 1;
    PyObject* r = PyUnicode_FromFormat("%s(%R)", shortName, dict);
    Py_DECREF(dict);
    return r;
}

PyObject* RichCompare(PyObject* a, PyObject* b, int op)
{
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(a) != Py_TYPE(b))
        Py_RETURN_NOTIMPLEMENTED;
    const bool same = std::memcmp(Bytes(a), Bytes(b), InfoOf(a)->size) == 0;
    return PyBool_FromLong(same == (op == Py_EQ));
}

PyMethodDef Methods[] = {
    {"as_dict", AsDict, METH_NOARGS, "as_dict() -> dict: every member by name, in record order."},
    {"raw", Raw, METH_O, "raw(name) -> bytes: a text member's bytes up to its first NUL, undecoded."},
    {"to_bytes", ToBytes, METH_NOARGS, "to_bytes() -> bytes: the whole record as laid out in memory."},
    {"from_bytes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(FromBytes)),
     METH_VARARGS | METH_KEYWORDS | METH_CLASS,
     "from_bytes(data, encoding=None, receive_time=0): a record from its memory layout (a\n"
     "shorter buffer leaves the rest zero); texts decoded with `encoding` (default GB18030);\n"
     "receive_time for depth records only."},
    {"__reduce__", Reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

bool MakeType(RecordInfo& info)
{
    for (std::size_t i = 0; i < info.count; ++i) {
        const Member& m = info.members[i];
        if (m.kind == MemberKind::Text) {
            info.getsets.push_back({m.name, GetText, nullptr, nullptr, const_cast<Member*>(&m)});
        } else {
            const int type = m.kind == MemberKind::Double ? T_DOUBLE : T_INT;
            info.memberDefs.push_back(
                {m.name, type, static_cast<Py_ssize_t>(DataOffset + m.offset), READONLY, nullptr});
        }
    }
    if (info.timed)
        info.memberDefs.push_back({"receive_time", T_LONGLONG,
                                   static_cast<Py_ssize_t>(DataOffset + info.size), READONLY,
                                   "when the library delivered it, ns since the epoch"});
    info.getsets.push_back({"encoding", GetEncoding, nullptr, "codec of the texts", nullptr});
    info.getsets.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
    info.memberDefs.push_back({nullptr, 0, 0, 0, nullptr});

    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(Dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(Repr)},
        {Py_tp_richcompare, reinterpret_cast<void*>(RichCompare)},
        {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
        {Py_tp_methods, Methods},
        {Py_tp_members, info.memberDefs.data()},
        {Py_tp_getset, info.getsets.data()},
        {Py_tp_doc, const_cast<char*>(info.doc)},
        {0, nullptr},
    };
    const std::size_t extra = info.timed ? sizeof(std::int64_t) : 0;
    PyType_Spec spec = {info.name, static_cast<int>(DataOffset + info.size + extra), 0, Py_TPFLAGS_DEFAULT,
                        slots};
    info.type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
    return info.type != nullptr;
}

} // namespace

PyObject* DecodeText(const char* text, std::size_t width, PyObject* encoding)
{
    const void* nul = std::memchr(text, 0, width);
    const std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : width;
    bool ascii = true;
    for (std::size_t i = 0; i < n && ascii; ++i)
        ascii = static_cast<unsigned char>(text[i]) < 0x80;
    if (ascii)
        return PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(n));
    const char* codec = PyUnicode_AsUTF8(encoding ? encoding : DefaultEncoding);
    if (!codec)
        return nullptr;
    return PyUnicode_Decode(text, static_cast<Py_ssize_t>(n), codec, "replace");
}

PyObject* NewRecord(RecordKind kind, const void* data, std::size_t size, PyObject* encoding)
{
    const RecordInfo& info = Infos[static_cast<int>(kind)];
    PyObject* self = info.type->tp_alloc(info.type, 0);
    if (!self)
        return nullptr;
    RecordObject* r = reinterpret_cast<RecordObject*>(self);
    const std::size_t n = size < info.size ? size : info.size;
    std::memcpy(r->data, data, n);
    std::memset(r->data + n, 0, info.size - n);
    if (info.timed)
        *TimeOf(self, info) = 0;
    Py_XINCREF(encoding);
    r->encoding = encoding;
    return self;
}

PyObject* NewDepth(const CThostFtdcDepthMarketDataField& d, std::int64_t nanos, PyObject* encoding)
{
    PyObject* self = NewRecord(RecordKind::Depth, &d, sizeof d, encoding);
    if (self)
        *TimeOf(self, Infos[static_cast<int>(RecordKind::Depth)]) = nanos;
    return self;
}

PyObject* MemberTable(RecordKind kind)
{
    const RecordInfo& info = Infos[static_cast<int>(kind)];
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(info.count));
    if (!list)
        return nullptr;
    for (std::size_t i = 0; i < info.count; ++i) {
        const Member& m = info.members[i];
        const char* kindName = m.kind == MemberKind::Text ? "text"
            : m.kind == MemberKind::Double                ? "double"
                                                          : "int";
        PyObject* t = Py_BuildValue("(ssnn)", m.name, kindName, static_cast<Py_ssize_t>(m.offset),
                                    static_cast<Py_ssize_t>(m.size));
        if (!t) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), t);
    }
    return list;
}

bool AddRecordTypes(PyObject* module)
{
    DefaultEncoding = PyUnicode_InternFromString("gb18030");
    if (!DefaultEncoding)
        return false;
    // The package's default, named here only.
    Py_INCREF(DefaultEncoding);
    if (PyModule_AddObject(module, "DEFAULT_ENCODING", DefaultEncoding) < 0) {
        Py_DECREF(DefaultEncoding);
        return false;
    }
    for (RecordInfo& info : Infos) {
        if (!MakeType(info))
            return false;
        Py_INCREF(info.type);
        if (PyModule_AddObject(module, std::strrchr(info.name, '.') + 1,
                               reinterpret_cast<PyObject*>(info.type)) < 0) {
            Py_DECREF(info.type);
            return false;
        }
    }
    return true;
}

} // namespace mdpy
