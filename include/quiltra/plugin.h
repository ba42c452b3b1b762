/* Plug-in interface: the image descriptor and the functions a prefilter or resampler
 * plug-in library exports by name. Plug-in authors compile against this file.
 *
 * A plug-in handle is pointer-sized (uintptr_t); 0 means none. */
#ifndef QUILTRA_PLUGIN_H
#define QUILTRA_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#include "camera_driver.h" /* QUILTRA_CALL */

#if defined(QUILTRA_PLUGIN_EXPORTS)
#if defined(_WIN32)
#define QUILTRA_PLUGIN_API __declspec(dllexport)
#else
#define QUILTRA_PLUGIN_API __attribute__((visibility("default")))
#endif
#else
#define QUILTRA_PLUGIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One image handed to a prefilter: rows top to bottom, each columns x bytesPerPixel bytes,
 * no padding. 32-bit targets: offsets 0, 4, 8, 12; 64-bit targets: pixels at 16. */
typedef struct ImageDescriptor {
    int32_t rows;
    int32_t columns;
    uint8_t bytesPerPixel;
    uint8_t reserved[3];
    void *pixels;
} ImageDescriptor;

#ifdef __cplusplus
static_assert(offsetof(ImageDescriptor, rows) == 0, "descriptor layout");
static_assert(offsetof(ImageDescriptor, columns) == 4, "descriptor layout");
static_assert(offsetof(ImageDescriptor, bytesPerPixel) == 8, "descriptor layout");
static_assert(offsetof(ImageDescriptor, pixels) == (sizeof(void *) == 4 ? 12 : 16),
              "descriptor layout");
#endif

/* Prefilter plug-in. */
QUILTRA_PLUGIN_API uintptr_t QUILTRA_CALL CreateFilter(const char *type, const char *filterFile,
                                                       const char *options);
QUILTRA_PLUGIN_API int QUILTRA_CALL ExecuteFilter(uintptr_t filter, const ImageDescriptor *in,
                                                  ImageDescriptor *out, const char *options);
QUILTRA_PLUGIN_API int QUILTRA_CALL ReleaseFilter(uintptr_t filter);

/* Resampler plug-in. x runs down the output rows, y along its columns. */
QUILTRA_PLUGIN_API uintptr_t QUILTRA_CALL CreateResampler(const char *calibFile, int inputRows,
                                                          int inputColumns, float centreX,
                                                          float centreY, float sizeX, float sizeY,
                                                          float angle, int outputRows,
                                                          int outputColumns);
QUILTRA_PLUGIN_API int QUILTRA_CALL SetResampleMode(uintptr_t resampler, int mode);
/* On entry *size holds the destination's byte size; on return the byte size written,
 * 0 meaning no image. */
QUILTRA_PLUGIN_API int QUILTRA_CALL ResampleBuffer(uintptr_t resampler, const void *source,
                                                   int rows, int columns, int bytesPerPixel,
                                                   void *destination, uint32_t *size);
QUILTRA_PLUGIN_API int QUILTRA_CALL ReleaseResampler(uintptr_t resampler);

typedef uintptr_t(QUILTRA_CALL *CreateFilterFn)(const char *, const char *, const char *);
typedef int(QUILTRA_CALL *ExecuteFilterFn)(uintptr_t, const ImageDescriptor *, ImageDescriptor *,
                                           const char *);
typedef int(QUILTRA_CALL *ReleaseFilterFn)(uintptr_t);
typedef uintptr_t(QUILTRA_CALL *CreateResamplerFn)(const char *, int, int, float, float, float,
                                                   float, float, int, int);
typedef int(QUILTRA_CALL *SetResampleModeFn)(uintptr_t, int);
typedef int(QUILTRA_CALL *ResampleBufferFn)(uintptr_t, const void *, int, int, int, void *,
                                            uint32_t *);
typedef int(QUILTRA_CALL *ReleaseResamplerFn)(uintptr_t);

#ifdef __cplusplus
}
#endif

#endif
