#include <gtest/gtest.h>

#include "app/CaptureSources.h"

namespace {

class NamedSource : public SoundCapture {
 public:
  NamedSource(const char* name, int devices) : SoundCapture(nullptr), m_name(name) {
    for (int i = 0; i < devices; ++i) AddDevice("device", i);
  }
  std::string GetName() const override { return m_name; }
  bool EnumerateDevices() override { return true; }
  bool Start(const DeviceEntry&, int32_t, int32_t) override { return false; }
  void Stop() override {}
  void Poll() override {}

 private:
  std::string m_name;
};

TEST(SourceChoice, StoredApiWinsOnlyWhenItHasDevices) {
  NamedSource waveIn("WaveIn", 0), capture("CoreAudioCapture", 2), loopback("CoreAudioLoopback", 1),
      file("WaveFile", 1);
  CaptureSources sources;
  SoundCapture* all[] = {&waveIn, &capture, &loopback, &file};
  for (SoundCapture* s : all) sources.list[sources.count++] = s;

  EXPECT_EQ(ChooseCurrentSource(sources, ""), &capture) << "first source with a device";
  EXPECT_EQ(ChooseCurrentSource(sources, "WaveFile"), &file);
  EXPECT_EQ(ChooseCurrentSource(sources, "WaveIn"), &capture) << "the stored source has no device";
  EXPECT_EQ(ChooseCurrentSource(sources, "WaveFil"), &capture) << "names match exactly";

  NamedSource a("A", 0), b("B", 0);
  CaptureSources none;
  none.list[0] = &a;
  none.list[1] = &b;
  none.count = 2;
  EXPECT_EQ(ChooseCurrentSource(none, "B"), &a) << "no source has a device: the first";
  sources.list[0] = sources.list[1] = sources.list[2] = sources.list[3] = nullptr;  // not owned
}

}  // namespace
