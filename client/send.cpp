#include "send.h"

int g_send_room = -1;
int g_send_error = 0;

int SendBytes(SOCKET s, const unsigned char* bytes, int n) {
    if (g_send_error) {
        WSASetLastError(g_send_error);
        return SOCKET_ERROR;
    }
    if (g_send_room == 0) {
        WSASetLastError(WSAEWOULDBLOCK);
        return SOCKET_ERROR;
    }
    if (g_send_room > 0 && n > g_send_room) n = g_send_room;
    int sent = send(s, reinterpret_cast<const char*>(bytes), n, 0);
    if (sent > 0 && g_send_room > 0) g_send_room -= sent;
    return sent;
}

void ResetSendFaults() {
    g_send_room = -1;
    g_send_error = 0;
}
