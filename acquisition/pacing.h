// Pacing of an acquisition: the tick and stop events, the periodic timer, the worker's start.
#pragma once

#include <windows.h>

#include <atomic>

#define PACING_TIMER_ID 100
#define DEFAULT_INTERVAL_MS 100
// The timer resolution asked of Windows while an acquisition runs.
#define TIMER_RESOLUTION_MS 1

extern HANDLE hStopEvent;
extern HANDLE hTickEvent;
// Manual-reset, signalled while no worker runs.
extern HANDLE hWorkerIdleEvent;
// 0 no acquisition, 1 displaying, 2 recording; read by the worker once per sample.
extern std::atomic<int> acquisitionMode;

void CreateAcquisitionEvents();
void CloseAcquisitionEvents();
void SetMode(int mode);
void StartWorker();
void StartPacingTimer();
void StopPacingTimer();
void SignalTick();
void SignalStop();
// The interval field's period in milliseconds; DEFAULT_INTERVAL_MS, with a log line, when it
// holds no number or a negative one.
int ReadInterval();
void WaitForWorkerEnd();
