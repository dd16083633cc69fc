/* Does closesocket() end the overlapped operations pending on the socket?
 * On Windows it does: they complete on the port with WSA_OPERATION_ABORTED.
 * Under Wine 8.0 a WSASend stuck on a full peer window (the peer connected
 * but not reading) stays pending for ever after the close, and with it the
 * socket's receive; CancelIoEx before the close ends both with
 * ERROR_OPERATION_ABORTED. Winsock and a completion port, nothing else.
 *
 *   x86_64-w64-mingw32-gcc -Wall -Wextra -o closesocket_pending_send.exe \
 *       closesocket_pending_send.c -lws2_32
 *   WINEPREFIX=$(mktemp -d) /usr/lib/wine/wine64 closesocket_pending_send.exe [cancel]
 *
 * Prints each completion; exits 1 when none comes within 5 s. Not built by
 * the project: it shows why a closing socket is cancelled first. */
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>

static OVERLAPPED recv_ov, send_ov[1024];
static char recv_buf[16], send_buf[65536];

int main(int argc, char** argv)
{
    const int cancel_first = argc > 1 && !strcmp(argv[1], "cancel");
    setvbuf(stdout, NULL, _IONBF, 0);
    WSADATA wd;
    WSAStartup(MAKEWORD(2, 2), &wd);

    /* A loopback connection; the client end never reads. */
    SOCKET l = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, NULL, 0, WSA_FLAG_OVERLAPPED);
    struct sockaddr_in a;
    int len = sizeof a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(l, (struct sockaddr*)&a, sizeof a);
    listen(l, 1);
    getsockname(l, (struct sockaddr*)&a, &len);
    SOCKET c = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, NULL, 0, WSA_FLAG_OVERLAPPED);
    connect(c, (struct sockaddr*)&a, sizeof a);
    SOCKET s = accept(l, NULL, NULL);
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
    CreateIoCompletionPort((HANDLE)s, port, 1, 0);

    DWORD n, flags = 0;
    ULONG_PTR key;
    OVERLAPPED* ov;
    int pending = 0;
    WSABUF rb = {sizeof recv_buf, recv_buf};
    if (WSARecv(s, &rb, 1, NULL, &flags, &recv_ov, NULL) && WSAGetLastError() == WSA_IO_PENDING)
        ++pending;
    /* Sends until one stays pending for half a second: the window is full. */
    for (int i = 0; i < 1024; ++i) {
        WSABUF sb = {sizeof send_buf, send_buf};
        int r = WSASend(s, &sb, 1, NULL, 0, &send_ov[i], NULL);
        if (r && WSAGetLastError() != WSA_IO_PENDING)
            return printf("WSASend failed: %d\n", WSAGetLastError()), 2;
        if (!GetQueuedCompletionStatus(port, &n, &key, &ov, r ? 500 : INFINITE) && !ov) {
            ++pending;
            printf("WSASend #%d pending; %d operation(s) pending\n", i + 1, pending);
            break;
        }
    }
    if (cancel_first)
        printf("CancelIoEx: %d\n", CancelIoEx((HANDLE)s, NULL));
    printf("closesocket: %d\n", closesocket(s));
    while (pending > 0) {
        ov = NULL;
        BOOL ok = GetQueuedCompletionStatus(port, &n, &key, &ov, 5000);
        if (!ov) {
            printf("no completion within 5 s: %d operation(s) still pending\n", pending);
            return 1;
        }
        printf("%s completed: error %lu\n", ov == &recv_ov ? "WSARecv" : "WSASend",
               ok ? 0ul : GetLastError());
        --pending;
    }
    printf("all completed\n");
    closesocket(c);
    return 0;
}
