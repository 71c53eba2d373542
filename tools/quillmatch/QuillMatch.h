// quillmatch: test signals for the end-to-end runs, and the comparison of
// what the device simulator recorded against what was played on the PC.
//
// The test signals are functions of time, so the copy played into the PC's
// sound system (at its rate) and the reference at the device's rate are the
// same sound sampled twice; the comparison then only has to find where the
// sound sits in the recording, to a fraction of a frame, and measure what
// the path added to it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quillmatch {

// Interleaved 16-bit PCM as read from or written to a wave file.
struct Wave {
  uint32_t rate = 0;
  uint32_t channels = 0;
  std::vector<int16_t> samples;  // frames x channels
  size_t Frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Reads a 16-bit integer PCM wave file (plain or extensible, 1 or 2 channels).
// A data chunk that claims more than the file holds is cut to what is there
// (a recording whose writer was killed). False with a message on anything else.
bool ReadWave(const std::string& path, Wave* wave, std::string* error);
bool WriteWave(const std::string& path, const Wave& wave, std::string* error);

enum class Signal {
  Sweep,  // left: a rising sweep, right: a falling one, half scale, faded in and out
  Click,  // silence, then a 2 ms burst at nine tenths of full scale, then silence
};

struct SignalDesc {
  Signal kind = Signal::Sweep;
  double seconds = 3.0;
  double clickAt = 0.5;  // seconds, Click only
  int repeat = 1;        // the signal this many times back to back (a looped file)
};

bool ParseSignal(const std::string& name, Signal* kind);

// The signal's value on channel 0 or 1 at time t (seconds), in -1..1.
double SignalValue(const SignalDesc& sig, int channel, double t);

// The signal sampled at the rate, 16-bit stereo, starting at time -offset
// (so the sound begins offset seconds into the result, which is extended by
// that much). Noise adds white noise of that RMS (full scale = 1).
Wave Generate(const SignalDesc& sig, uint32_t rate, double offset = 0.0, double noise = 0.0, uint32_t seed = 1);

struct ChannelMatch {
  double gain = 0.0;   // recording = gain x reference + error
  double snrDb = 0.0;  // of the gain-matched reference against the error
};

struct Match {
  bool found = false;
  double lagFrames = 0.0;    // where the reference starts in the recording, in frames
  double correlation = 0.0;  // normalised, of the channel-0 match (0..1)
  ChannelMatch channel[2];
  double SnrDb() const { return channel[0].snrDb < channel[1].snrDb ? channel[0].snrDb : channel[1].snrDb; }
};

// Finds the reference (same rate as the recording) in the recording and
// measures each channel's gain and signal-to-noise ratio over the reference's
// length. Both must be stereo. Not found when the recording is shorter than
// the reference or holds nothing like it.
Match Compare(const Wave& reference, const Wave& recording);

// First frame, from frame from on, at which either channel reaches the
// threshold (fraction of full scale), or -1.
int64_t FindClick(const Wave& recording, double threshold, int64_t from = 0);

struct Levels {
  double rmsDbfs[2] = {-200.0, -200.0};
  double peakDbfs[2] = {-200.0, -200.0};
};
Levels MeasureLevels(const Wave& wave);

// The command line: generate, compare, click, levels. Returns the exit code.
int Main(int argc, char** argv, FILE* out, FILE* err);

}  // namespace quillmatch
