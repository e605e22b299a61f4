#pragma once
#include <cstdint>

class AlsaBackend;
struct AlsaPcm;

// The ALSA layer of the USB audio gadget (the sound card listed as "UAC2Gadget"): its capture
// stream (audio from the host) and playback stream (audio to the host), 16-frame blocks of
// interleaved signed 32-bit stereo moved without blocking, and the clock-drift control that aims at
// 128 frames of delay each way by writing the gadget's pitch controls (1000000 = nominal rate).
//
// Threads: alsa_read and alsa_write on "audioLoop" (they never block, allocate or print);
// update_alsa_status, alsa_set_speed and get_alsa_capture_volume on "compileLoop". The compile thread
// opens and closes the streams: a stream is first taken out of the audio thread's reach, then
// closed once the audio thread is out of every ALSA call. Whether to steer or reopen is the capture
// stream's state, which the compile pass asks (libasound serialises that call with the audio
// thread's calls on the stream).

int init_alsa_capture();
int init_alsa_playback();
// Logs the rates, channel counts and buffer sizes a stream supports.
void print_supported_configurations(AlsaPcm* handle, const char* stream);
// 0: a whole block read; 1: nothing usable (the buffer is then zero or left as given).
int alsa_read(int* buffer, int frames);
int alsa_write(int* buffer, int frames);
// 0: written (also partly); 1: not written.
int alsa_write_pcm(int* buffer, int frames);
// Both delays within 33..223 frames.
bool alsa_is_sync();
// Every compile pass: reopens the streams when needed, else steers their rates.
void update_alsa_status();
// 0: written, 1: failed.
int alsa_set_speed(bool playback, int value);
// The host's volume as a fraction 0..1 of the control's range (0 when unknown).
float get_alsa_capture_volume();

// Both streams are open: the audio thread may exchange blocks with the host.
bool alsa_streams_open();
// The delays last reported by the streams, in frames.
int64_t alsa_capture_delay();
int64_t alsa_playback_delay();

// The calls behind the layer: libasound unless a test puts a simulated host there. Set before the
// engine starts; the layer starts afresh with it (no stream open, delays and rates nominal).
void alsa_set_backend(AlsaBackend* backend);

// The device names the layer opens; tests point them elsewhere (ALSA's null plugin).
struct AlsaDevices {
    const char* capture = "default";
    const char* playback = "default:1";
    const char* captureControl = "hw:0";
    const char* playbackControl = "hw:1";
    const char* mixer = "default";
};
void alsa_set_devices(const AlsaDevices& devices);
