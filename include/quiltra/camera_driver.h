/* Camera driver interface: the sixteen entry points a host application calls, the
 * callback shapes it hands in, and the further entries of an underlying driver.
 *
 * Quiltra exports exactly these sixteen names; an underlying camera driver exports the
 * same ones plus the extras below. Driver authors compile against this file. */
#ifndef QUILTRA_CAMERA_DRIVER_H
#define QUILTRA_CAMERA_DRIVER_H

#if defined(_WIN32) && !defined(_WIN64)
#define QUILTRA_CALL __cdecl
#else
#define QUILTRA_CALL
#endif

/* Define QUILTRA_DRIVER_EXPORTS while building a driver library so that the entry points
 * below are exported from it. */
#if defined(QUILTRA_DRIVER_EXPORTS)
#if defined(_WIN32)
#define QUILTRA_DRIVER_API __declspec(dllexport)
#else
#define QUILTRA_DRIVER_API __attribute__((visibility("default")))
#endif
#else
#define QUILTRA_DRIVER_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void(QUILTRA_CALL *DebugMsgProc)(const char *text);
typedef void(QUILTRA_CALL *CompleteCallback)(int grabber, int port);
typedef void(QUILTRA_CALL *CmdCallback)(int grabber, int port, const char *text);

/* Number of entries of the list returned by getCVLCameraConfigNames. */
#define QUILTRA_CAMERA_NAME_LIST_SIZE 128

QUILTRA_DRIVER_API int QUILTRA_CALL initialize(const char *systemPath, DebugMsgProc debugMsgProc);
QUILTRA_DRIVER_API int QUILTRA_CALL finalize(void);
QUILTRA_DRIVER_API int QUILTRA_CALL configureCamera(void *ownerWindow, const char *cameraName);
QUILTRA_DRIVER_API int QUILTRA_CALL getCVLMaxNoOfPorts(int grabber);
QUILTRA_DRIVER_API int QUILTRA_CALL getCVLNoOfSupportedCameras(void);
QUILTRA_DRIVER_API const char **QUILTRA_CALL getCVLCameraConfigNames(void);
/* size[0] receives the width, size[1] the height in pixels. */
QUILTRA_DRIVER_API int QUILTRA_CALL openCVLPort(int grabber, int port, const char *cameraName,
                                                int *size);
QUILTRA_DRIVER_API void QUILTRA_CALL closeCVLPort(int grabber, int port);
QUILTRA_DRIVER_API int QUILTRA_CALL doCVLGrab(int grabber, int port);
/* Copies columns firstColumn..lastColumn (inclusive) of one row into buffer. */
QUILTRA_DRIVER_API int QUILTRA_CALL getCVLGrabRow(int grabber, int port, void *buffer, int row,
                                                  int firstColumn, int lastColumn);
QUILTRA_DRIVER_API int QUILTRA_CALL setCompleteCallback(int grabber, int port,
                                                        CompleteCallback callback);
QUILTRA_DRIVER_API int QUILTRA_CALL getPropertyRange(int grabber, int port, const char *name,
                                                     int *minValue, int *maxValue);
QUILTRA_DRIVER_API int QUILTRA_CALL getProperty(int grabber, int port, const char *name,
                                                int *value);
QUILTRA_DRIVER_API int QUILTRA_CALL setProperty(int grabber, int port, const char *name,
                                                int value);
QUILTRA_DRIVER_API int QUILTRA_CALL setCmdCallback(int grabber, int port, CmdCallback callback);
QUILTRA_DRIVER_API int QUILTRA_CALL execCmd(int grabber, int port, const char *command,
                                            const char *arguments, char *result, int resultSize);

/* Pointer types of the entry points, for hosts and bindings that look them up by name. */
typedef int(QUILTRA_CALL *InitializeFn)(const char *, DebugMsgProc);
typedef int(QUILTRA_CALL *FinalizeFn)(void);
typedef int(QUILTRA_CALL *ConfigureCameraFn)(void *, const char *);
typedef int(QUILTRA_CALL *GetCVLMaxNoOfPortsFn)(int);
typedef int(QUILTRA_CALL *GetCVLNoOfSupportedCamerasFn)(void);
typedef const char **(QUILTRA_CALL *GetCVLCameraConfigNamesFn)(void);
typedef int(QUILTRA_CALL *OpenCVLPortFn)(int, int, const char *, int *);
typedef void(QUILTRA_CALL *CloseCVLPortFn)(int, int);
typedef int(QUILTRA_CALL *DoCVLGrabFn)(int, int);
typedef int(QUILTRA_CALL *GetCVLGrabRowFn)(int, int, void *, int, int, int);
typedef int(QUILTRA_CALL *SetCompleteCallbackFn)(int, int, CompleteCallback);
typedef int(QUILTRA_CALL *GetPropertyRangeFn)(int, int, const char *, int *, int *);
typedef int(QUILTRA_CALL *GetPropertyFn)(int, int, const char *, int *);
typedef int(QUILTRA_CALL *SetPropertyFn)(int, int, const char *, int);
typedef int(QUILTRA_CALL *SetCmdCallbackFn)(int, int, CmdCallback);
typedef int(QUILTRA_CALL *ExecCmdFn)(int, int, const char *, const char *, char *, int);

/* Further entries of an underlying driver, looked up by name. Quiltra calls the first two
 * when the driver has no initialize; the last three are looked up and never called. */
typedef void(QUILTRA_CALL *SetDebugMsgProcFn)(DebugMsgProc proc);
typedef void(QUILTRA_CALL *SetSystemPathFn)(const char *systemPath);
typedef int(QUILTRA_CALL *ConfigureFn)(void);
typedef int(QUILTRA_CALL *GetCVLMaxNoOfGrabbersFn)(void);
typedef int(QUILTRA_CALL *SetHWTriggerFn)(int grabber, int port, int on);

#ifdef __cplusplus
}
#endif

#endif
