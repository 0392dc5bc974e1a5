// The control tree from outside: OSC messages into a live player and its
// frames, a recorded show rendered again (twice: the same frames; with a
// pause as long as it was held), and the bad input of both ways in; what
// fails (a full disk, a killed player, a socket) is told and leaves a show
// that reads.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <lo/lo.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include "osc.h"
#include "player.h"
#include "replay.h"
#include "player_fixture.h"
#include "test_support.h"

namespace {

// A player from a command line, its layers in lockstep with the frames.
std::unique_ptr<Player> open_player(std::vector<std::string> args, PlayerOptions &opt) {
  std::unique_ptr<Player> p = pt::open_player(std::move(args), opt);
  if (p) p->context()->lockstep = true;
  return p;
}

// A live player takes OSC from liblo's own sender: each change shows in
// the frame composed right after it arrives.
TEST(PlayerOsc, ChangesFromAClientShowInTheNextFrame) {
  set_debug(0);
  PlayerOptions opt;
  auto player = open_player({"--fps", "100", "--size", "320x240", "--seed", "7", "layer_gen",
                             PLAYER_DATA_DIR "/ant.png", "--pos", "0,0"},
                            opt);
  ShowRecorder none;
  std::string err;
  int port = 0;
  close(kt::bound_socket(SOCK_DGRAM, port));
  opt.osc_port = port;
  ASSERT_TRUE(attach_controls(*player, opt, Show(), none, err)) << err;
  lo_address to = lo_address_new("127.0.0.1", std::to_string(port).c_str());
  Layer *ant = player->stack()[1];
  Context &ctx = *player->context();
  ASSERT_TRUE(player->step());
  const struct Row {
    const char *path, *types;
    double a, b;
    int blit, alpha, x, y;
  } rows[] = {
      {"/layer/ant.png/pos", "ii", 40, 30, BLIT_RGB, 255, 40, 30},
      {"/layer/2/alpha", "f", 0.5, 0, BLIT_ALPHA, 128, 40, 30},
      {"/layer/2/alpha", "i", 3, 0, BLIT_ALPHA, 255, 40, 30},  // clamped to 1
      {"/layer/2/blit", "s", 0, 0, BLIT_ADD, 255, 40, 30},
      {"/layer/2/pos", "ff", 12.4, 8.6, BLIT_ADD, 255, 12, 9},
      {"/layer/2/blit", "i", 1, 0, BLIT_RGB, 255, 12, 9},
  };
  for (const Row &r : rows) {
    lo_message m = lo_message_new();
    if (r.types[0] == 's') lo_message_add_string(m, "ADD");
    for (const char *t = r.types; *t; t++) {
      const double v = t == r.types ? r.a : r.b;
      if (*t == 'i') lo_message_add_int32(m, (int32_t)v);
      if (*t == 'f') lo_message_add_float(m, (float)v);
    }
    ASSERT_NE(lo_send_message(to, r.path, m), -1);
    lo_message_free(m);
    usleep(20000);  // the datagram is in the socket before the frame
    ASSERT_TRUE(player->step());
    EXPECT_EQ(std::make_tuple((int)ant->blit, (int)ant->alpha, (int)ant->geo.x, (int)ant->geo.y),
              std::make_tuple(r.blit, r.alpha, r.x, r.y))
        << r.path << " " << r.types;
  }
  // In RGB the ant's own pixels are on the screen where it was put.
  const kt::Picture pic = kt::read_png(PLAYER_DATA_DIR "/ant.png");
  ASSERT_GT(pic.w, 20);
  ctx.screen->lock();
  for (int d : {0, 7, 19}) {
    const uint8_t *s = kt::screen_pixel(ctx, 12 + d, 9 + d), *p = pic.at(d, d);
    EXPECT_EQ(std::make_tuple(s[2], s[1], s[0]), std::make_tuple(p[0], p[1], p[2])) << d;
  }
  ctx.screen->unlock();
  lo_address_free(to);
  std::string said, why;
  ASSERT_EQ(player->controls()->set("/layer/2/alpha", {ControlArg::number(0)}, said, why),
            ControlStatus::done);
  // The port is on loopback alone: another address of this machine does
  // not reach it, though it reaches a port bound to every address.
  int any = 0;
  close(kt::bound_socket(SOCK_DGRAM, any));
  player->add_source(open_osc("0.0.0.0", any, true, err));
  ASSERT_TRUE(err.empty()) << err;
  for (auto [to_port, alpha] : {std::make_pair(port, 0), std::make_pair(any, 128)}) {
    lo_address other = lo_address_new("127.0.0.2", std::to_string(to_port).c_str());
    ASSERT_NE(lo_send(other, "/layer/2/alpha", "f", 0.5f), -1);
    lo_address_free(other);
    usleep(20000);
    ASSERT_TRUE(player->step());
    EXPECT_EQ((int)ant->alpha, alpha) << "sent to 127.0.0.2:" << to_port;
  }
}

std::vector<uint64_t> rendered(const std::string &show, const std::string &dir,
                               const std::string &size) {
  const std::string out = kt::output_of(std::string(PLAYER_PROGRAM) + " -q --replay " + show +
                                        " --size " + size + " --capture " + dir +
                                        " --format png 2>&1; echo status $?");
  EXPECT_TRUE(kt::contains(out, "status 0")) << out;
  std::vector<uint64_t> hashes;
  for (int i = 1;; i++) {
    char name[32];
    snprintf(name, sizeof name, "/frame_%06d.png", i);
    const std::vector<uint8_t> bytes = kt::read_file(dir + name);
    if (bytes.empty()) break;
    hashes.push_back(kt::fnv1a(bytes.data(), bytes.size()));
  }
  return hashes;
}

// Recorded live, rendered again. A pause held N frames lasts N frames in
// the record and in its render: the held picture N times more, then the
// show goes on from where it stood, as the same show without the pause.
// Text comes back as it was said.
TEST(PlayerReplay, APauseLastsInTheRenderAsLongAsItWasHeld) {
  const char *const kQuoted = "a \"quoted\"\nline";
  kt::TempDir dir;
  const std::string show = dir.path + "/show.txt";
  const int held = 6;
  {
    PlayerOptions opt;
    auto player = open_player({"--fps", "50", "--size", "160x120", "--seed", "9", "--record",
                               show, "layer_gen", PLAYER_DATA_DIR "/ant.png", "--pos", "20,10"},
                              opt);
    ASSERT_NE(player, nullptr);
    ShowRecorder recorder;
    std::string err, said;
    ASSERT_TRUE(attach_controls(*player, opt, Show(), recorder, err)) << err;
    ASSERT_EQ(player->controls()->set("/osd/top", {ControlArg::string(kQuoted)}, said, err),
              ControlStatus::done);
    for (int i = 0; i < 4; i++) ASSERT_TRUE(player->step());
    player->controls()->set("/pause", {ControlArg::number(1)}, said, err);
    for (int i = 0; i < held; i++) ASSERT_TRUE(player->step());
    player->controls()->set("/pause", {ControlArg::number(0)}, said, err);
    for (int i = 0; i < 4; i++) ASSERT_TRUE(player->step());
    recorder.end(player->frame());
  }
  Show parsed;
  std::string err;
  ASSERT_TRUE(read_show(show, parsed, err)) << err;
  ASSERT_EQ(parsed.changes.size(), 3u);
  EXPECT_EQ(parsed.changes[0].args[0].text, kQuoted);
  EXPECT_EQ(parsed.changes[1].frame, 4);
  EXPECT_EQ(parsed.changes[2].frame, 4 + held);
  EXPECT_EQ(parsed.end, 8 + held);

  // The same stack, never paused.
  const std::vector<uint8_t> text = kt::read_file(show);
  std::string unpaused(text.begin(), text.end());
  unpaused.erase(unpaused.find("\n4 /pause") + 1);
  std::ofstream(dir.path + "/unpaused.txt") << unpaused << "8 end\n";
  const std::vector<uint64_t> paused = rendered(show, dir.path + "/p", "160x120");
  const std::vector<uint64_t> plain =
      rendered(dir.path + "/unpaused.txt", dir.path + "/u", "160x120");
  ASSERT_EQ(plain.size(), 8u);
  ASSERT_EQ(paused.size(), plain.size() + held);
  EXPECT_NE(plain[3], plain[4]) << "the generator moves";
  for (int i = 4; i < 4 + held; i++) EXPECT_EQ(paused[i], plain[4]) << "held frame " << i;
  std::vector<uint64_t> unheld = paused;
  unheld.erase(unheld.begin() + 4, unheld.begin() + 4 + held);
  EXPECT_EQ(unheld, plain);
}

// A show file that does not read: one line naming the line, status 2; a
// change that cannot apply: told once, skipped, the rest played.
TEST(PlayerReplay, BadShowsAreToldByLine) {
  const struct {
    const char *text, *error;
  } rows[] = {
      {"layer layer_gen\nwhat 3\n", "show:2: unknown line what"},
      {"size 10x10\nlayer layer_gen\n", "show:1: --size wants WxH"},
      {"layer layer_gen --alpha 300\n", "show:1: --alpha wants 0 to 255, not 300"},
      {"layer layer_gen\n5 /pause 1\n3 /pause 0\n", "show:3: frame 3 comes before frame 5"},
      {"layer layer_gen\n5 /osd/top \"open\n", "show:2: a quote is not closed"},
      {"layer layer_gen\n5 /osd/top \"\\q\"\n", "show:2: an unknown escape"},
      {"layer layer_gen\n5 layer\n", "show:2: a change is FRAME /PATH"},
      {"4 /pause 1\n", "show:1: a change before any layer"},
      {"layer layer_gen\n9 end\n10 /pause 1\n", "show:3: nothing comes after the end"},
      {"layer layer_gen\n2 /pause 1\nlayer x.png\n", "show:3: the stack comes before"},
      {"# nothing\n", "show:2: no layer"},
      {"layer layer_gen\n99999999999999999999 /quit\n", "show:2: unknown line 9999"},
  };
  for (const auto &r : rows) {
    Show s;
    std::string err;
    EXPECT_FALSE(parse_show(r.text, "show", s, err)) << r.text;
    EXPECT_EQ(err.rfind(r.error, 0), 0u) << err;
  }
  kt::TempDir dir;
  const std::string file = dir.path + "/bad.txt";
  ASSERT_TRUE(kt::write_file(file, std::vector<uint8_t>({'f', 'p', 's'})));
  EXPECT_EQ(kt::output_of(std::string(PLAYER_PROGRAM) + " --replay " + file + " 2>&1; echo $?"),
            "kolvex: " + file + ":1: fps takes one value\n2\n");

  Show s;
  std::string err;
  ASSERT_TRUE(parse_show("layer layer_gen\n1 /layer/5/alpha 1\n2 /layer/5/alpha 0\n"
                         "2 /layer/1/shown 0\n",
                         "show", s, err));
  PlayerOptions opt;
  auto player = open_player({"--size", "64x48", "layer_gen"}, opt);
  ShowPlayer replay(s, false);
  kt::StderrCapture cap;
  for (int f = 0; f < 3; f++) replay.poll(*player->controls(), f);
  const std::string told = cap.text();
  EXPECT_EQ(replay.refused(), 2);
  EXPECT_EQ(kt::count_lines(told, "kolvex: line 2: /layer/5/alpha skipped: no layer 5"), 1) << told;
  EXPECT_FALSE(player->stack()[0]->active);
}

std::vector<uint8_t> osc(const char *path, const char *types, std::vector<uint8_t> args = {}) {
  std::vector<uint8_t> out;
  auto put = [&out](const char *s) {
    const size_t n = strlen(s) + 1;
    out.insert(out.end(), s, s + n);
    out.resize((out.size() + 3) / 4 * 4);
  };
  put(path);
  put(types);
  out.insert(out.end(), args.begin(), args.end());
  return out;
}

std::vector<uint8_t> be(float f) {
  uint32_t u;
  memcpy(&u, &f, 4);
  return {(uint8_t)(u >> 24), (uint8_t)(u >> 16), (uint8_t)(u >> 8), (uint8_t)u};
}

// Packets that are not OSC, or not for us: dropped, never fatal, the
// layer as it was; the good one among them applies. A socket error is told.
TEST(PlayerOsc, MalformedPacketsAreDropped) {
  set_debug(0);
  PlayerOptions opt;
  auto player = open_player({"--size", "64x48", "layer_gen", "--alpha", "100"}, opt);
  Layer *l = player->stack()[0];
  std::vector<uint8_t> bundle = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
  const std::vector<uint8_t> inner = osc("/layer/1/alpha", ",f", be(0.2f));
  const std::vector<uint8_t> nested_ok = [&] {
    std::vector<uint8_t> b = bundle;
    b.insert(b.end(), {0, 0, 0, (uint8_t)inner.size()});
    b.insert(b.end(), inner.begin(), inner.end());
    return b;
  }();
  std::vector<uint8_t> huge(70000, 'a');
  huge[0] = '/';
  huge.back() = 0;
  const struct {
    const char *what;
    std::vector<uint8_t> bytes;
    int done;
  } rows[] = {
      {"empty", {}, 0},
      {"no terminator", {'/', 'p', 'a', 'u'}, 0},
      {"no type tags", {'/', 'q', 0, 0}, 0},
      {"NaN", osc("/layer/1/alpha", ",f", be(NAN)), 0},
      {"infinity", osc("/layer/1/alpha", ",f", be(INFINITY)), 0},
      {"a blob", osc("/layer/1/alpha", ",b", {0, 0, 0, 1, 9, 0, 0, 0}), 0},
      {"odd type tag", osc("/layer/1/alpha", ",?", {}), 0},
      {"argument cut short", osc("/layer/1/alpha", ",f", {0x3f}), 0},
      {"text for a number", osc("/layer/1/alpha", ",s", {'x', 0, 0, 0}), 0},
      {"no such layer", osc("/layer/2/alpha", ",f", be(0.5f)), 0},
      {"bytes in the path", osc("/layer/\x01\xff/alpha", ",f", be(0.5f)), 0},
      {"a huge path", huge, 0},
      {"a bundle cut short", {bundle.begin(), bundle.end() - 1}, 0},
      {"a bundle with a wrong size", [&] { auto b = bundle; b.insert(b.end(), {0, 0, 1, 0, '/', 0, 0, 0}); return b; }(), 0},
      {"a bundle", nested_ok, 1},
  };
  OscHandler handler(true);
  for (const auto &r : rows) {
    EXPECT_EQ(handler.handle(*player->controls(), r.bytes.data(), r.bytes.size()), r.done) << r.what;
    EXPECT_EQ((int)l->alpha, r.done ? 51 : 100) << r.what;
  }
  // A socket that fails on receive is told once, however many frames ask.
  std::unique_ptr<ControlSource> no_socket = osc_server(open("/dev/null", O_RDONLY), true);
  kt::StderrCapture cap;
  for (int frame = 0; frame < 3; frame++) no_socket->poll(*player->controls(), frame);
  EXPECT_EQ(cap.text(), "kolvex: OSC: can't receive: Socket operation on non-socket\n");
}

// A player recording a show is killed outright, on a disk with room and on
// one that fills up: the show reads, every change it took there in order,
// none torn; a full disk is told once and ends the show there.
TEST(PlayerRecord, AKilledPlayersShowReadsUpToItsLastChange) {
  for (const bool full : {false, true}) {
    SCOPED_TRACE(full ? "a full disk" : "room");
    kt::TempDir dir;
    const std::string disk = dir.path + "/disk", file = disk + "/show.txt", log = dir.path + "/log";
    ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
    if (full && mount("kolvex-test", disk.c_str(), "tmpfs", 0, "size=4k") != 0)
      GTEST_SKIP() << "a tmpfs cannot be mounted here (" << strerror(errno) << ")";
    std::shared_ptr<void> unmount(nullptr, [&](void *) { umount2(disk.c_str(), MNT_DETACH); });
    int port = 0;
    close(kt::bound_socket(SOCK_DGRAM, port));
    const pid_t pid = atoi(kt::output_of(std::string(PLAYER_PROGRAM) + " -q --size 64x48 --osc " +
                                         std::to_string(port) + " --record " + file +
                                         " layer_gen >/dev/null 2>" + log + " & echo $!").c_str());
    ASSERT_GT(pid, 0);
    auto holds = [](const std::string &f, const std::string &part) {  // within 20 s
      return kt::output_of("timeout 20 sh -c 'until grep -qF -- \"" + part + "\" " + f +
                           "; do sleep 0.01; done' && echo yes") == "yes\n";
    };
    EXPECT_TRUE(holds(file, "layer layer_gen"));  // recording, the port open
    lo_address to = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    std::vector<std::string> sent;
    for (int i = 0; i < 100; i++) {  // 5 KiB of changes
      sent.push_back("change " + std::to_string(i) + " " + std::string(40, 'x'));
      lo_send(to, "/osd/top", "s", sent.back().c_str());
    }
    lo_address_free(to);
    EXPECT_TRUE(full ? holds(log, "the show ends") : holds(file, "change 99 x"));
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    Show show;
    std::string err;
    ASSERT_TRUE(read_show(file, show, err)) << err;
    std::vector<std::string> kept;
    for (const ShowChange &c : show.changes) kept.push_back(c.args.at(0).text);
    EXPECT_EQ(kept, std::vector<std::string>(sent.begin(), sent.begin() + kept.size()));
    EXPECT_EQ(kept.size() < sent.size(), full);
    EXPECT_EQ(show.end, 0);
    const std::string told = kt::output_of("cat " + log);
    EXPECT_EQ(told.rfind("kolvex: --record " + file + ": No space left on device; the show ends before frame ", 0) == 0 &&
                  std::count(told.begin(), told.end(), '\n') == 1,
              full)
        << told;
  }
}

}  // namespace
