#include "client.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    ResetClientState();
    g_client.instance = instance;
    return RunProgram(instance, show, RegisterClientClass, CreateClientWindow);
}
