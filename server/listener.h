// Listener control: Start, Stop, Pause and Exit.
#pragma once

void OnStartCommand();
void OnStopCommand();
void OnPauseCommand();
void OnExitCommand();
