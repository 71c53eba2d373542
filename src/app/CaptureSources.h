// The program's capture sources, made at start-up in a fixed order (Windows).
#pragma once

class Adpcm;
class CaptureChoice;
class MessageBoxSink;
class PacketChannel;
struct CaptureTexts;

// Makes and initialises each kind of source in its order (waveIn, Core Audio
// capture, Core Audio loopback, wave file) and adds those whose
// initialisation succeeded to choice, each given the serial channel.
// messages (not owned) shows the sources' errors and outlives them; texts
// name the entries that are not devices.
void CreateCaptureSources(CaptureChoice& choice, const Adpcm* adpcm, PacketChannel* channel,
                          MessageBoxSink& messages, const CaptureTexts& texts);
