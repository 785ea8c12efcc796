#pragma once
// WAV files of the alert sound: recognising one, and making the beep's tone.
#include <string>

namespace core {

// Whether the file opens and starts as a RIFF WAVE file.
bool IsWaveFile(const std::string& path);

// A mono 16-bit PCM WAV of a sine tone.
std::string ToneWave(int hertz, int milliseconds, int sampleRate = 8000);

}  // namespace core
