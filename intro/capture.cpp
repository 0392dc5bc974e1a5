#include "capture.h"

#include <unistd.h>

#include <cstring>

#include "intro.h"

namespace capture {

namespace {

// libmikmod's output driver is a table of plain functions: what it knows
// is the library's, process-wide.
bool playing = false;

// The session mixes each frame's samples itself (mix_music), right after
// the frame: nothing is left for the library's update to do.
void driver_update() {}

BOOL driver_present() { return 1; }
void driver_command_line(const CHAR *) {}

int driver_init() {
  // The mixer makes what the intro asks for; the file must say the same.
  if (md_mixfreq != kMixFreq || !(md_mode & DMODE_16BITS) || !(md_mode & DMODE_STEREO)) {
    error("capture: the music must be mixed at %i Hz, 16-bit stereo", kMixFreq);
    return 1;
  }
  return VC_Init();
}

int driver_play_start() {
  playing = true;
  return VC_PlayStart();
}

void driver_play_stop() {
  playing = false;
  VC_PlayStop();
}

void driver_exit() {
  playing = false;
  VC_Exit();
}

MDRIVER capture_driver() {
  MDRIVER d;
  memset(&d, 0, sizeof d);
  d.Name = "Frame-exact capture";
  d.Version = "Frame-exact capture driver v1.0";
  d.HardVoiceLimit = 0;
  d.SoftVoiceLimit = 255;
  d.Alias = "capture";
  d.CmdLineHelp = "";
  d.CommandLine = driver_command_line;
  d.IsPresent = driver_present;
  d.SampleLoad = VC_SampleLoad;
  d.SampleUnload = VC_SampleUnload;
  d.FreeSampleSpace = VC_SampleSpace;
  d.RealSampleLength = VC_SampleLength;
  d.Init = driver_init;
  d.Exit = driver_exit;
  d.Reset = nullptr;
  d.SetNumVoices = VC_SetNumVoices;
  d.PlayStart = driver_play_start;
  d.PlayStop = driver_play_stop;
  d.Update = driver_update;
  d.Pause = nullptr;
  d.VoiceSetVolume = VC_VoiceSetVolume;
  d.VoiceGetVolume = VC_VoiceGetVolume;
  d.VoiceSetFrequency = VC_VoiceSetFrequency;
  d.VoiceGetFrequency = VC_VoiceGetFrequency;
  d.VoiceSetPanning = VC_VoiceSetPanning;
  d.VoiceGetPanning = VC_VoiceGetPanning;
  d.VoicePlay = VC_VoicePlay;
  d.VoiceStop = VC_VoiceStop;
  d.VoiceStopped = VC_VoiceStopped;
  d.VoiceGetPosition = VC_VoiceGetPosition;
  d.VoiceRealVolume = VC_VoiceRealVolume;
  return d;
}

MDRIVER driver = capture_driver();

std::string joined(const std::vector<std::string> &places) {
  std::string text;
  for (const std::string &p : places) text += (text.empty() ? "" : ", ") + p;
  return text;
}

}  // namespace

void register_music_driver() { MikMod_RegisterDriver(&driver); }

void mix_music(int16_t *stereo, int frames) {
  if (playing) VC_WriteBytes((SBYTE *)stereo, (ULONG)frames * 2 * sizeof(int16_t));
}

std::vector<std::string> missing_data() {
  std::vector<std::string> missing;
  for (const char *name : {"tolvek-climax.xm", "ant.png", "code.png"}) {
    const std::vector<std::string> places = data_places(name);
    bool found = false;
    for (const std::string &p : places) found = found || access(p.c_str(), R_OK) == 0;
    if (!found) missing.push_back(std::string(name) + " (looked for " + joined(places) + ")");
  }
  if (access("dio.c", R_OK) != 0) missing.push_back("dio.c (looked for ./dio.c)");
  // The engine's own search, as the intro's context will make it.
  set_debug(0);
  Plugger plugger;
  plugger.refresh();
  if (!plugger.pick("vertigo")) {
    const char *dir = plugger._getsearchpath();
    missing.push_back(std::string("the vertigo effect (looked in ") + (dir ? dir : "no directory") +
                      " for *" KOLVEX_PLUGIN_TAG ")");
  }
  return missing;
}

}  // namespace capture
