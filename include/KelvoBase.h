/*
 * KelvoBase: the base services the market-data client is built on.
 *
 * Strings and field splitting, front addresses, one asynchronous TCP client
 * connection per handler object, one-shot timers, log files and a monotonic
 * tick count. Everything asynchronous runs on one process-wide event-loop
 * thread, started on first use: every network callback and every timer
 * expiry of every object arrives there, one at a time.
 *
 * fork(): a child's first use starts a loop of its own. Objects the child
 * inherited are inert there: Connect returns -1, SendData 0, SetTimer 0,
 * Close, ClearTimer, Abort, SetReconnectAddr and log writes do nothing, and
 * their destructors free nothing of what belongs to the parent's loop (it is
 * left allocated; the parent's sockets stay as they are). Should a callback
 * end the loop thread (pthread_exit, thread cancellation), the loop counts
 * as stopped: Kelvo_LOOP_Call and everything that waits for the loop run in
 * the calling thread from then on.
 *
 * Linux: libkelvobase.so. Windows: KelvoBaseV64.dll.
 */
#ifndef KELVO_BASE_H
#define KELVO_BASE_H

#include <stddef.h>

#if defined(KELVO_STATIC)
#  define KELVO_API
#elif defined(_WIN32)
#  if defined(KELVO_BUILDING_BASE)
#    define KELVO_API __declspec(dllexport)
#  else
#    define KELVO_API __declspec(dllimport)
#  endif
#else
#  define KELVO_API __attribute__((visibility("default")))
#endif

#if defined(__GNUC__) || defined(__clang__)
#  define KELVO_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#  define KELVO_PRINTF(fmt, args)
#endif

/*
 * A byte string that is always NUL-terminated behind its length. Binary safe:
 * memcpy/memcat take zero bytes like any other. An element of a
 * Kelvo_StringArray is a read-only view into the array's own copy of the text;
 * copying it gives an ordinary string.
 */
class KELVO_API Kelvo_String {
public:
    Kelvo_String();
    Kelvo_String(const char* text);
    Kelvo_String(const Kelvo_String& other);
    Kelvo_String& operator=(const Kelvo_String& other);
    ~Kelvo_String();

    /* Replaces the contents with exactly n bytes of data; returns the new length. */
    int memcpy(const void* data, int n);
    /* Appends exactly n bytes of data; returns the new length. */
    int memcat(const void* data, int n);
    /* Appends printf-formatted text; returns the new length. */
    int sprintf_append(const char* format, ...) KELVO_PRINTF(2, 3);
    /* Appends count copies of ch; returns the new length. */
    int addch(char ch, int count);
    /* Drops the last n bytes (all of them if fewer); returns the new length. */
    int truncate_right(int n);
    /* Replaces the contents with the first n bytes of text, stopping early at
     * a zero byte, and terminates them; returns the new length. */
    int strncpy(const char* text, int n);
    /* Makes room for n bytes without changing the contents. */
    void reserve(int n);
    /* Empties the string; keeps its memory for reuse. */
    void Reset();

    int length() const { return m_length; }
    const char* c_str() const { return m_data; }
    operator const char*() const { return m_data; }

    /* Decimal conversions of the whole text: leading blanks and one '+' are
     * skipped; text that does not start with a number gives 0. */
    double ToFloat() const;
    int ToInt(int base) const;

private:
    friend class Kelvo_StringArray;
    // A read-only view of text that someone else owns.
    Kelvo_String(char* view, int length) : m_data(view), m_length(length), m_capacity(0) {}
    void Grow(int need);
    void Own();

    char* m_data;     /* never null; points at a static "" while empty */
    int m_length;
    int m_capacity;   /* 0: m_data is not ours (empty or a view) */
};

/* Flag for Kelvo_StringArray::Split: leave empty fields out. */
#define KELVO_SPLIT_SKIP_EMPTY 1

/*
 * Fields of a text split at one separator byte. Meant to live on the stack:
 * records of up to 1 KiB and 64 fields are split without touching the heap.
 */
class KELVO_API Kelvo_StringArray {
public:
    Kelvo_StringArray();
    ~Kelvo_StringArray();

    /* Splits text (up to its terminating zero) at every separator byte, in
     * order. With flags 0 empty fields keep their places: "a\1\1b" gives
     * three fields. Returns the number of fields. */
    int Split(const char* text, char separator, int flags);
    int GetSize() const { return m_count; }
    /* Field i; an empty string for an index outside the fields. */
    const Kelvo_String& operator[](int i) const
    {
        return static_cast<unsigned>(i) < static_cast<unsigned>(m_count) ? m_fields[i] : EmptyField();
    }

private:
    static const Kelvo_String& EmptyField();
    Kelvo_StringArray(const Kelvo_StringArray&);
    Kelvo_StringArray& operator=(const Kelvo_StringArray&);
    inline void AddField(char* text, int length);
    void GrowFields();

    enum { InlineText = 1024, InlineFields = 64 };
    char* m_text;
    Kelvo_String* m_fields;
    int m_count;
    int m_textCapacity;
    int m_fieldCapacity;
    char m_inlineText[InlineText];
    /* raw storage: fields are views, built only as far as Split needs them */
    alignas(Kelvo_String) unsigned char m_inlineFields[InlineFields * sizeof(Kelvo_String)];
};

/* A host (name or numeric address, at most 127 characters) and a port. */
class KELVO_API Kelvo_SocketAddr {
public:
    Kelvo_SocketAddr();
    virtual ~Kelvo_SocketAddr();

    /* Returns 0, or -1 (and keeps nothing) for a null or overlong host or a
     * port outside 0..65535. */
    int Init(const char* host, int port);
    const char* GetAddr() const { return m_host; }
    int GetPort() const { return m_port; }

private:
    char m_host[128];
    int m_port;
};

struct Kelvo_ConnState;

/* The common root of socket handler objects; owns the connection state. */
class KELVO_API Kelvo_SocketHandlerObj {
public:
    Kelvo_SocketHandlerObj();
    virtual ~Kelvo_SocketHandlerObj();

protected:
    Kelvo_ConnState* m_conn;

private:
    Kelvo_SocketHandlerObj(const Kelvo_SocketHandlerObj&);
    Kelvo_SocketHandlerObj& operator=(const Kelvo_SocketHandlerObj&);
};

/*
 * One TCP client connection, driven by the event loop.
 *
 * Receiving: the loop reads in large chunks into its own buffer and offers the
 * bytes to the handler: OnRecvBuffer(size) is told how many bytes are ready
 * and sets size to how many to take now (0: none until more arrive); when it
 * asked for some, exactly that many are copied into the buffer it returned
 * and OnRecvData follows before the next OnRecvBuffer.
 *
 * Reasons given to OnConnectFaild / OnDisConnect are the platform's error
 * numbers (errno on Linux, WinSock codes on Windows); 0 means the peer closed
 * the connection in order. A host that does not resolve gives ENXIO on Linux
 * and WSAHOST_NOT_FOUND on Windows; a connect that takes longer than 10 s
 * gives ETIMEDOUT / WSAETIMEDOUT; Abort gives ECONNABORTED / WSAECONNABORTED.
 *
 * When OnConnectFaild or OnDisConnect returns a delay N > 0 (ms), the loop
 * connects again after N ms: to the address given to SetReconnectAddr inside
 * that callback if there was one, else to the same address. Close cancels it.
 *
 * A callback that throws never stops a connection silently. An exception out
 * of OnRecvBuffer, OnRecvData or OnConnectOk drops the link as lost, with the
 * reason Abort gives (ECONNABORTED / WSAECONNABORTED): OnDisConnect follows,
 * then its reconnect. One out of OnConnectFaild or OnDisConnect counts as a
 * return of KELVO_RECONNECT_AFTER_THROW_MS: the reconnect still happens (to
 * the SetReconnectAddr address if the callback set one before it threw).
 */
#define KELVO_RECONNECT_AFTER_THROW_MS 3000

class KELVO_API Kelvo_TcpClientHandler : public Kelvo_SocketHandlerObj {
public:
    Kelvo_TcpClientHandler();
    virtual ~Kelvo_TcpClientHandler();

    virtual char* OnRecvBuffer(long& size);
    virtual void OnConnectOk();
    virtual int OnConnectFaild(void* reserved, int reason);
    virtual int OnDisConnect(void* reserved, int reason);
    virtual int OnRecvData(char* buffer, long size);

    /* Starts connecting (closing any earlier connection without a callback)
     * and returns at once; OnConnectOk or OnConnectFaild follows on the loop.
     * Called on the loop thread, no callback runs before it returns; called
     * from another thread, the callbacks may start before it returns.
     * Returns 0, or -1 for a null host. */
    int Connect(const char* host, int port);
    /* Closes the connection and cancels a pending reconnect. No callback of
     * the closed connection follows once Close returns; called from another
     * thread it waits for a callback in flight. Never delivers OnDisConnect. */
    int Close();
    /* Queues a frame to be written whole and in order. Returns 1 and takes
     * the string (frame is set to null), or 0 when not connected, the caller
     * keeping it. Any thread. */
    int SendData(Kelvo_String*& frame);
    /* From inside a callback of this connection: drops the link as if it had
     * been lost; OnDisConnect follows on the loop. */
    void Abort();
    /* From inside OnConnectFaild or OnDisConnect (it has no effect
     * elsewhere): where the delayed reconnect goes. */
    void SetReconnectAddr(const char* host, int port);
};

struct Kelvo_TimerState;

/*
 * One-shot timers owned by one object. SetTimer returns a non-zero id that
 * is never the id of another pending timer, even after the id counter has
 * wrapped; OnTimer(id, 0, user) follows once on the loop when the interval has
 * passed, counted from the SetTimer call (also inside a long callback): on
 * Linux give or take a tick of the coarse monotonic clock (at most two ticks
 * later, at most one earlier), elsewhere never earlier.
 * An OnTimer that throws loses only that expiry. ClearTimer ignores 0 and ids that are not this object's pending
 * timers. Called from another thread, ClearTimer and the destructor wait for
 * an expiry of this object in flight; from the loop thread they take effect at
 * once. One object holds at most KELVO_TIMER_MAX_PENDING pending timers: arming
 * one more cancels the one of them that was armed first.
 * An object whose class derives from Kelvo_Timer is best destroyed on the loop
 * thread: from another thread, its own members are gone before the base
 * destructor can wait for an OnTimer in flight.
 */
#define KELVO_TIMER_MAX_PENDING 1024

class KELVO_API Kelvo_Timer {
public:
    Kelvo_Timer();
    virtual ~Kelvo_Timer();

    virtual void OnTimer(unsigned int id, int reserved, int user);

    /* reserved1 and reserved2 must be 0; name is informational and may be
     * null. Returns the timer's id. */
    unsigned int SetTimer(unsigned int ms, int user, int reserved1, int reserved2,
                          const char* name);
    void ClearTimer(unsigned int id);

private:
    Kelvo_Timer(const Kelvo_Timer&);
    Kelvo_Timer& operator=(const Kelvo_Timer&);

    Kelvo_TimerState* m_state;
};

struct Kelvo_LogState;

/*
 * Line-oriented log files: one file per day, "<name>_YYYYMMDD.log" in the
 * directory given to SetMainDir (created when missing), each line a local time
 * stamp with milliseconds and the text. Any thread; each line is written with
 * one append, so lines of several objects on one file never interleave.
 * Failures (unwritable directory, full disk) are swallowed.
 */
class KELVO_API Kelvo_Log {
public:
    /* mode 0 writes nothing; any other value writes the files. */
    explicit Kelvo_Log(int mode);
    virtual ~Kelvo_Log();

    int SetMainDir(const char* dir);
    /* keepDays: how many days of files are kept; older ones of this name are
     * deleted when a new day's file is opened (0 keeps everything). */
    int Init(const char* name, int keepDays);
    void Trace(int level, const char* format, ...) KELVO_PRINTF(3, 4);

private:
    Kelvo_Log(const Kelvo_Log&);
    Kelvo_Log& operator=(const Kelvo_Log&);

    Kelvo_LogState* m_state;
};

extern "C" {

/* Milliseconds of a monotonic clock, wrapping at 32 bits. */
KELVO_API unsigned int Kelvo_THREAD_GetTickCount(void);

/* Non-zero when called on the event-loop thread. */
KELVO_API int Kelvo_LOOP_InThread(void);
/* Runs fn(arg) on the loop thread after the current callback (if any) has
 * returned. */
KELVO_API void Kelvo_LOOP_Post(void (*fn)(void*), void* arg);
/* Runs fn(arg) on the loop thread and waits for it; runs it at once when
 * called on the loop thread or once the loop has stopped at process exit. */
KELVO_API void Kelvo_LOOP_Call(void (*fn)(void*), void* arg);
/* A number that changes in the child of every fork(). An object that notes
 * it when made and later finds it different was inherited from the parent:
 * it belongs to the parent's loop and must stay inert. */
KELVO_API unsigned int Kelvo_LOOP_Generation(void);

}

#endif
