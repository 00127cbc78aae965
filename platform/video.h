/*
 * video.h --
 *     Video streams for the image widgets, decoded with libavformat and
 *     libavcodec and converted with libswscale into the window's pixel
 *     format.  A stream is an int handle (0: none).  Playback is paced by
 *     the wall clock: a sample is shown once the time since the start of
 *     play has reached its timestamp.
 */
#ifndef VESK_PLATFORM_VIDEO_H
#define VESK_PLATFORM_VIDEO_H

#include "platform/surface.h"

namespace vesk {

int createStreamSample(const char *fileName, Tk_Window window, DDContext *directDraw);
int updateStreamSample(int handle, DDPrimary *primary);
void freeStreamSample(int handle);
void streamSeek(int handle, double time);
double streamClock(int handle);
double streamDuration(int handle);
double streamFrametime(int handle);
void streamPause(int handle, DDPrimary *primary, double time);
void streamRect(int handle, int *width, int *height);
void streamImageInfo(int handle, int *a, int *b, int *c, int *d);
int streamPalette(int handle, unsigned char (*table)[3]);
void updateSurface(int handle, DDPrimary *primary);
int dshowtest(int a, int b);

/* Seconds until the next sample of a playing stream is due (0: now or
   not playing); lets a caller wait instead of polling. */
double streamWaitTime(int handle);

}  // namespace vesk

#endif
