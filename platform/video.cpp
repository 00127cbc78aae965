/*
 * video.cpp --
 *     Video streams on FFmpeg: the best video stream of a file is decoded
 *     frame by frame, converted by libswscale into the window's pixel
 *     format at the window's size and put on the window.  Handles index a
 *     table of open streams.
 *
 *     Time: a stream's clock is the timestamp (seconds from the stream's
 *     start) of the sample shown last, or the time a pause was asked for.
 *     A seek to t >= 0 starts play at t: from then on a sample is shown
 *     when the wall clock since the seek has reached its timestamp less t;
 *     samples that fall behind by a whole frame are skipped.  A stop (seek
 *     -1) or a destroy (seek -2) ends play; nothing is buffered beyond the
 *     next sample, so no samples remain to drain after a stop.
 *
 *     streamImageInfo reports: frame width, frame height, the window's
 *     bits per pixel and FFmpeg's pixel format code of the frames.
 */
#include "platform/video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "display/colortab.h"
#include "display/colormap.h"

namespace vesk {

namespace {

struct VideoStream {
  AVFormatContext *format = nullptr;
  AVCodecContext *codec = nullptr;
  AVStream *stream = nullptr;
  int streamIndex = -1;
  AVPacket *packet = nullptr;
  AVFrame *current = nullptr;   /* the sample to show next (valid when hasCurrent) */
  AVFrame *ahead = nullptr;     /* the one after it, decoded early */
  AVFrame *shown = nullptr;     /* the sample on screen */
  AVFrame *scratch = nullptr;
  bool hasCurrent = false, hasAhead = false, hasShown = false;
  bool demuxDone = false;       /* the file gave its last packet (flush sent) */
  bool decodeDone = false;      /* the decoder gave its last frame */
  int64_t startPts = 0;         /* the stream's first timestamp */
  double lastPts = 0;
  double clock = 0;
  double duration = 0;
  double frameTime = 0.04;
  bool playing = false;
  bool stopped = false;
  double wallStart = 0;         /* wall time of media time 0 while playing */
  Tk_Window window = nullptr;
  DDContext *context = nullptr;
  SwsContext *sws = nullptr;
  AVPixelFormat outFormat = AV_PIX_FMT_RGB24;
  bool packRGB = false;         /* convert to RGB24, then through the masks or the cube */
  std::vector<uint8_t> converted, packed;
  unsigned char palette[256][3] = {};
  int paletteCount = 0;
  unsigned long *cubePixels = nullptr;  /* 8-bit windows: pixel of each cube colour */
  int presented = 0, late = 0, skipped = 0;
};

std::vector<std::unique_ptr<VideoStream>> &streams() {
  static std::vector<std::unique_ptr<VideoStream>> table;
  return table;
}

VideoStream *streamOf(int handle) {
  auto &table = streams();
  if (handle < 1 || handle > static_cast<int>(table.size())) return nullptr;
  return table[handle - 1].get();
}

double wallNow() {
  Tcl_Time t;
  Tcl_GetTime(&t);
  return static_cast<double>(t.sec) + t.usec * 1e-6;
}

double ptsOf(VideoStream *s, const AVFrame *frame) {
  int64_t pts = frame->best_effort_timestamp;
  if (pts == AV_NOPTS_VALUE) pts = frame->pts;
  if (pts == AV_NOPTS_VALUE) return s->lastPts + s->frameTime;
  return static_cast<double>(pts - s->startPts) * av_q2d(s->stream->time_base);
}

/* Decodes the next frame of the stream into out; false at the end. */
bool decodeNext(VideoStream *s, AVFrame *out) {
  if (s->decodeDone) return false;
  for (int guard = 0; guard < 1000000; guard++) {
    int r = avcodec_receive_frame(s->codec, out);
    if (r == 0) {
      s->lastPts = ptsOf(s, out);
      return true;
    }
    if (r != AVERROR(EAGAIN) || s->demuxDone) {
      s->decodeDone = true;
      return false;
    }
    r = av_read_frame(s->format, s->packet);
    if (r < 0) {
      s->demuxDone = true;
      avcodec_send_packet(s->codec, nullptr);
      continue;
    }
    if (s->packet->stream_index == s->streamIndex) avcodec_send_packet(s->codec, s->packet);
    av_packet_unref(s->packet);
  }
  s->decodeDone = true;
  return false;
}

/* The next sample into current (from the one decoded early, if any). */
bool takeCurrent(VideoStream *s) {
  if (s->hasCurrent) return true;
  if (s->hasAhead) {
    std::swap(s->current, s->ahead);
    s->hasAhead = false;
    s->hasCurrent = true;
    return true;
  }
  s->hasCurrent = decodeNext(s, s->current);
  return s->hasCurrent;
}

/* How frames become pixels of the window. */
void chooseOutput(VideoStream *s) {
  const SurfaceFormat &f = s->context->format;
  s->packRGB = false;
  if (f.bitsPerPixel == 32 && f.redMask == 0xff0000 && f.greenMask == 0xff00 && f.blueMask == 0xff)
    s->outFormat = AV_PIX_FMT_0RGB32;
  else if (f.bitsPerPixel == 32 && f.redMask == 0xff && f.greenMask == 0xff00 && f.blueMask == 0xff0000)
    s->outFormat = AV_PIX_FMT_0BGR32;
  else if (f.bitsPerPixel == 24 && f.redMask == 0xff0000 && f.blueMask == 0xff)
    s->outFormat = AV_PIX_FMT_BGR24;
  else if (f.bitsPerPixel == 24 && f.redMask == 0xff && f.blueMask == 0xff0000)
    s->outFormat = AV_PIX_FMT_RGB24;
  else if (f.bitsPerPixel == 16 && f.redMask == 0xf800 && f.greenMask == 0x07e0 && f.blueMask == 0x1f)
    s->outFormat = AV_PIX_FMT_RGB565;
  else if (f.bitsPerPixel == 16 && f.redMask == 0x7c00 && f.greenMask == 0x03e0 && f.blueMask == 0x1f)
    s->outFormat = AV_PIX_FMT_RGB555;
  else {
    s->outFormat = AV_PIX_FMT_RGB24;
    s->packRGB = true;
  }
}

/* Packs RGB24 rows into the window's format through its masks or the cube. */
void packRows(VideoStream *s, int width, int height, int pitch) {
  const SurfaceFormat &f = s->context->format;
  const int bytes = f.bitsPerPixel / 8;
  uint32_t part[3][256];
  if (f.bitsPerPixel > 8) {
    const unsigned long masks[3] = {f.redMask, f.greenMask, f.blueMask};
    for (int c = 0; c < 3; c++) {
      int shift, bits;
      maskShift(masks[c], &shift, &bits);
      for (int v = 0; v < 256; v++) {
        const uint32_t level = bits >= 8 ? static_cast<uint32_t>(v) << (bits - 8)
                                         : static_cast<uint32_t>(v) >> (8 - bits);
        part[c][v] = static_cast<uint32_t>((static_cast<unsigned long>(level) << shift) & masks[c]);
      }
    }
  }
  const int inPitch = width * 3;
  for (int y = 0; y < height; y++) {
    const uint8_t *in = &s->converted[static_cast<size_t>(y) * inPitch];
    uint8_t *out = &s->packed[static_cast<size_t>(y) * pitch];
    for (int x = 0; x < width; x++, in += 3) {
      if (bytes == 1) {
        const int cube = (in[0] & 0xE0) | ((in[1] >> 3) & 0x1C) | (in[2] >> 6);
        out[x] = static_cast<uint8_t>(s->cubePixels ? s->cubePixels[cube] : cube);
        continue;
      }
      const uint32_t p = part[0][in[0]] | part[1][in[1]] | part[2][in[2]];
      if (bytes == 2) {
        const uint16_t v = static_cast<uint16_t>(p);
        memcpy(out + 2 * x, &v, 2);
      } else if (bytes == 3) {
        out[3 * x] = static_cast<uint8_t>(p);
        out[3 * x + 1] = static_cast<uint8_t>(p >> 8);
        out[3 * x + 2] = static_cast<uint8_t>(p >> 16);
      } else {
        memcpy(out + 4 * x, &p, 4);
      }
    }
  }
}

/* Converts a frame at the window's size and puts it on the window. */
void present(VideoStream *s, const AVFrame *frame, DDPrimary *primary) {
  DDContext *context = primary && primary->context ? primary->context : s->context;
  if (!context || !context->tkwin || !frame || frame->width < 1 || frame->height < 1) return;
  const int width = std::max(Tk_Width(context->tkwin), 1);
  const int height = std::max(Tk_Height(context->tkwin), 1);
  s->sws = sws_getCachedContext(s->sws, frame->width, frame->height,
                                static_cast<AVPixelFormat>(frame->format), width, height,
                                s->outFormat, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!s->sws) return;
  const int pixelBytes = context->format.bitsPerPixel / 8;
  const int pitch = (width * pixelBytes + 3) & ~3;
  const int convPitch = s->packRGB ? width * 3 : pitch;
  try {
    s->converted.resize(static_cast<size_t>(convPitch) * height + 64);
    if (s->packRGB) s->packed.resize(static_cast<size_t>(pitch) * height);
  } catch (const std::bad_alloc &) {
    return;
  }
  uint8_t *dst[4] = {s->converted.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {convPitch, 0, 0, 0};
  sws_scale(s->sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
  if (s->packRGB) {
    packRows(s, width, height, pitch);
    putPixelsOnWindow(context, s->packed.data(), pitch, width, height);
  } else {
    putPixelsOnWindow(context, s->converted.data(), pitch, width, height);
  }
}

/* Reads the palette of a PAL8 frame. */
void takePalette(VideoStream *s, const AVFrame *frame) {
  if (frame->format != AV_PIX_FMT_PAL8 || !frame->data[1]) return;
  for (int i = 0; i < 256; i++) {
    uint32_t argb;
    memcpy(&argb, frame->data[1] + 4 * i, 4);
    s->palette[i][0] = static_cast<unsigned char>(argb >> 16);
    s->palette[i][1] = static_cast<unsigned char>(argb >> 8);
    s->palette[i][2] = static_cast<unsigned char>(argb);
  }
  s->paletteCount = 256;
}

/* Positions the decoder at time t: frames are decoded from the key frame
   before it, so that the next one taken is the first at or after t. */
void seekTo(VideoStream *s, double t) {
  const double base = av_q2d(s->stream->time_base);
  const int64_t target = s->startPts + static_cast<int64_t>(t / base);
  av_seek_frame(s->format, s->streamIndex, target, AVSEEK_FLAG_BACKWARD);
  avcodec_flush_buffers(s->codec);
  s->demuxDone = s->decodeDone = false;
  s->hasCurrent = s->hasAhead = false;
}

void closeStream(VideoStream *s) {
  if (s->sws) sws_freeContext(s->sws);
  av_frame_free(&s->current);
  av_frame_free(&s->ahead);
  av_frame_free(&s->shown);
  av_frame_free(&s->scratch);
  av_packet_free(&s->packet);
  avcodec_free_context(&s->codec);
  if (s->format) avformat_close_input(&s->format);
  if (s->cubePixels && s->context) {
    freeColorPixels(s->context->display, s->context->colormap, s->cubePixels, 256);
    Tcl_Free(reinterpret_cast<char *>(s->cubePixels));
  }
  s->cubePixels = nullptr;
}

}  // namespace

/*
 * createStreamSample --
 *     Opens a file's best video stream for a window and decodes its first
 *     sample.
 * Results:      a handle above 0, or 0 when the file cannot be played.
 */
int createStreamSample(const char *fileName, Tk_Window window, DDContext *directDraw) {
  if (!fileName || !*fileName || !directDraw) return 0;
  std::unique_ptr<VideoStream> s(new VideoStream);
  s->window = window;
  s->context = directDraw;
  av_log_set_level(AV_LOG_QUIET);
  bool ok = avformat_open_input(&s->format, fileName, nullptr, nullptr) == 0 &&
            avformat_find_stream_info(s->format, nullptr) >= 0;
  if (ok) {
    s->streamIndex = av_find_best_stream(s->format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    ok = s->streamIndex >= 0;
  }
  const AVCodec *decoder = nullptr;
  if (ok) {
    s->stream = s->format->streams[s->streamIndex];
    decoder = avcodec_find_decoder(s->stream->codecpar->codec_id);
    ok = decoder != nullptr;
  }
  if (ok) {
    s->codec = avcodec_alloc_context3(decoder);
    ok = s->codec && avcodec_parameters_to_context(s->codec, s->stream->codecpar) >= 0 &&
         avcodec_open2(s->codec, decoder, nullptr) == 0;
  }
  if (ok) {
    s->packet = av_packet_alloc();
    s->current = av_frame_alloc();
    s->ahead = av_frame_alloc();
    s->shown = av_frame_alloc();
    s->scratch = av_frame_alloc();
    ok = s->packet && s->current && s->ahead && s->shown && s->scratch;
  }
  if (ok) {
    s->startPts = s->stream->start_time != AV_NOPTS_VALUE ? s->stream->start_time : 0;
    AVRational rate = s->stream->avg_frame_rate.num > 0 ? s->stream->avg_frame_rate
                                                         : s->stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) s->frameTime = av_q2d(av_inv_q(rate));
    if (s->format->duration != AV_NOPTS_VALUE && s->format->duration > 0)
      s->duration = s->format->duration / static_cast<double>(AV_TIME_BASE);
    else if (s->stream->duration != AV_NOPTS_VALUE)
      s->duration = s->stream->duration * av_q2d(s->stream->time_base);
    ok = takeCurrent(s.get());
  }
  if (!ok) {
    closeStream(s.get());
    return 0;
  }
  takePalette(s.get(), s->current);
  chooseOutput(s.get());
  if (directDraw->format.bitsPerPixel == 8) {
    unsigned char cube[256][3];
    for (int i = 0; i < 256; i++) {
      /* Entry 32r + 4g + b of the 8 x 8 x 4 cube, levels rounded. */
      cube[i][0] = static_cast<unsigned char>((((i >> 5) & 7) * 255 + 3) / 7);
      cube[i][1] = static_cast<unsigned char>((((i >> 2) & 7) * 255 + 3) / 7);
      cube[i][2] = static_cast<unsigned char>(((i & 3) * 255 + 1) / 3);
    }
    s->cubePixels = allocNearestColors(directDraw->display, directDraw->colormap, &cube[0][0], 256);
  }
  auto &table = streams();
  for (size_t i = 0; i < table.size(); i++) {
    if (!table[i]) {
      table[i] = std::move(s);
      return static_cast<int>(i) + 1;
    }
  }
  table.push_back(std::move(s));
  return static_cast<int>(table.size());
}

/*
 * updateStreamSample --
 *     Shows the next sample once it is due (play starts now when no seek
 *     started it); samples a whole frame behind are skipped.
 * Results:      1 while the stream goes on (a sample shown or not yet
 *     due), 0 at its end or after a stop.
 */
int updateStreamSample(int handle, DDPrimary *primary) {
  VideoStream *s = streamOf(handle);
  if (!s || s->stopped) return 0;
  if (!takeCurrent(s)) {
    s->playing = false;
    return 0;
  }
  if (!s->playing) {
    s->playing = true;
    s->wallStart = wallNow() - ptsOf(s, s->current);
  }
  const double now = wallNow() - s->wallStart;
  if (ptsOf(s, s->current) > now) return 1;
  /* Newer samples that are due already take the place of this one. */
  while (!s->hasAhead && decodeNext(s, s->ahead)) {
    s->hasAhead = true;
    if (ptsOf(s, s->ahead) <= now) {
      std::swap(s->current, s->ahead);
      s->hasAhead = false;
      s->skipped++;
    }
  }
  const double pts = ptsOf(s, s->current);
  if (now - pts > s->frameTime) s->late++;
  present(s, s->current, primary);
  std::swap(s->shown, s->current);
  s->hasShown = true;
  s->hasCurrent = false;
  s->clock = pts;
  s->presented++;
  return 1;
}

void freeStreamSample(int handle) {
  VideoStream *s = streamOf(handle);
  if (!s) return;
  closeStream(s);
  streams()[handle - 1].reset();
}

/*
 * streamSeek --
 *     t >= 0: play from t (the next sample shown is the first at or after
 *     it, when the wall clock says so); -1 stops play; -2 stops for good
 *     (the owner goes away).
 */
void streamSeek(int handle, double time) {
  VideoStream *s = streamOf(handle);
  if (!s) return;
  if (time < 0) {
    s->playing = false;
    s->stopped = true;
    return;
  }
  time = std::min(time, s->duration);
  seekTo(s, time);
  while (takeCurrent(s) && ptsOf(s, s->current) < time - 1e-6) s->hasCurrent = false;
  s->stopped = false;
  s->playing = true;
  s->clock = time;
  s->wallStart = wallNow() - time;
}

double streamClock(int handle) {
  VideoStream *s = streamOf(handle);
  return s ? s->clock : 0;
}

double streamDuration(int handle) {
  VideoStream *s = streamOf(handle);
  return s ? s->duration : 0;
}

double streamFrametime(int handle) {
  VideoStream *s = streamOf(handle);
  return s ? s->frameTime : 0;
}

/*
 * streamPause --
 *     Shows the sample on screen at time t (the last one at or before it)
 *     without playing; the clock becomes t.
 */
void streamPause(int handle, DDPrimary *primary, double time) {
  VideoStream *s = streamOf(handle);
  if (!s) return;
  time = std::max(0.0, std::min(time, s->duration));
  seekTo(s, time);
  bool found = false;
  while (takeCurrent(s) && ptsOf(s, s->current) <= time + 1e-6) {
    std::swap(s->shown, s->current);
    s->hasCurrent = false;
    found = true;
  }
  if (found) {
    s->hasShown = true;
    present(s, s->shown, primary);
  }
  s->playing = false;
  s->stopped = false;
  s->clock = time;
}

void streamRect(int handle, int *width, int *height) {
  VideoStream *s = streamOf(handle);
  *width = s ? s->codec->width : 0;
  *height = s ? s->codec->height : 0;
}

void streamImageInfo(int handle, int *a, int *b, int *c, int *d) {
  VideoStream *s = streamOf(handle);
  *a = s ? s->codec->width : 0;
  *b = s ? s->codec->height : 0;
  *c = s ? s->context->format.bitsPerPixel : 0;
  *d = s ? static_cast<int>(s->codec->pix_fmt) : 0;
}

int streamPalette(int handle, unsigned char (*table)[3]) {
  VideoStream *s = streamOf(handle);
  if (!s || s->paletteCount <= 0) return 0;
  memcpy(table, s->palette, static_cast<size_t>(s->paletteCount) * 3);
  return s->paletteCount;
}

/* Puts the sample shown last on the window again. */
void updateSurface(int handle, DDPrimary *primary) {
  VideoStream *s = streamOf(handle);
  if (s && s->hasShown) present(s, s->shown, primary);
}

int dshowtest(int, int) { return 0; }

double streamWaitTime(int handle) {
  VideoStream *s = streamOf(handle);
  if (!s || !s->playing || !s->hasCurrent) return 0;
  return std::max(0.0, ptsOf(s, s->current) - (wallNow() - s->wallStart));
}

}  // namespace vesk
