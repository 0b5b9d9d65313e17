#include "server.h"
#include "window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    ResetServerState();
    g_server.instance = instance;
    return RunProgram(instance, show, RegisterServerClass, CreateServerWindow);
}
