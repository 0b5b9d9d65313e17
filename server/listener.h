// Listener control: Start, Stop and Pause.
#pragma once

void OnStartCommand();
void OnStopCommand();
void OnPauseCommand();
