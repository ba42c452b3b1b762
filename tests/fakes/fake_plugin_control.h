// Control functions that the fake prefilter and resampler libraries export beside the plug-in
// functions. A test reaches them by loading the same library file: the loader hands back the
// library that the bindings loaded, so the test reads what they called.
#pragma once

#include <quiltra/plugin.h>

extern "C" {
// "FakePluginLog": every plug-in call so far, one line each, in call order; the text stays
// valid until the next call of any control function.
typedef const char*(QUILTRA_CALL* FakePluginLogFn)(void);
// "FakePluginReset": forgets the log and the script; instances count from 1 again.
typedef void(QUILTRA_CALL* FakePluginResetFn)(void);
// "FakePluginSet": scripts a behaviour. Keys:
//   "handleBase"  the next instance handle (0: Create returns 0); default 1, then counting up;
//   "resultSize"  the size ResampleBuffer leaves in *size (-1: unchanged, the default);
//   "delayMs"     how long ResampleBuffer takes (default 0);
//   "log"         0: calls are not logged (a long run); default 1.
typedef void(QUILTRA_CALL* FakePluginSetFn)(const char* key, int value);
// "FakePluginLiveInstances": instances created and not yet released.
typedef int(QUILTRA_CALL* FakePluginLiveInstancesFn)(void);
}
