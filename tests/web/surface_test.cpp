// The surface between a page and a real player's tree, over a real socket:
// what the page is told, what it may change, and what it is spared.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <set>

#include "player_fixture.h"
#include "surface.h"
#include "test_support.h"
#include "ws_client.h"

using nlohmann::json;

namespace {

class Surface : public ::testing::Test {
 protected:
  void SetUp() override {
    player = pt::open_player({"--capture", dir.path, "--seconds", "60", "--format", "y4m", "--bank",
                              KT_DATA "/ant.png", "layer_gen", KT_DATA "/code.png", "--blit", "OVER",
                              "--effect", "frei0r.brightness"},
                             opt);
    ASSERT_TRUE(player);
    SurfaceOptions so;
    so.root = KT_PAGE;
    std::unique_ptr<WebSurface> surface(new WebSurface(*player, so));
    std::string err;
    ASSERT_TRUE(surface->start(err)) << err;
    port = surface->port();
    player->add_source(std::move(surface));
    for (auto &p : pages) p = open_page();
  }

  std::unique_ptr<kt::WsClient> open_page() {
    std::unique_ptr<kt::WsClient> page(new kt::WsClient(port));
    EXPECT_EQ(page->handshake("/ws", "127.0.0.1").substr(9, 3), "101");
    return page;
  }
  // Frames played until `page` is told a message of `type` (null: none in
  // `frames` frames); pictures (binary) go to `pictures`.
  json next(kt::WsClient &page, const std::string &type, int frames = 48,
            std::vector<std::string> *pictures = nullptr) {
    for (int f = 0; f < frames; f++) {
      std::string payload;
      int op;
      while ((op = page.read(payload, f ? 5 : 50)) > 0) {
        if (op == 2 && pictures) pictures->push_back(payload);
        if (op != 1) continue;
        json m = json::parse(payload, nullptr, false);
        if (m.is_discarded()) ADD_FAILURE() << "not JSON: " << payload.substr(0, 200);
        if (m["type"] == type) return m;
      }
      player->step();
    }
    return nullptr;
  }
  void say(kt::WsClient &page, const std::string &text) { ASSERT_TRUE(page.send(text)); }

  kt::TempDir dir;
  PlayerOptions opt;
  std::unique_ptr<Player> player;
  int port = 0;
  std::unique_ptr<kt::WsClient> pages[2];
};

TEST_F(Surface, StateHoldsEveryObjectsRowsAsTheTreeHasThem) {
  const json state = next(*pages[0], "state");
  ASSERT_FALSE(state.is_null());
  ASSERT_EQ(state["layers"].size(), 2u);
  const json &top = state["layers"][1];
  EXPECT_EQ(top["effects"].size(), 1u);
  EXPECT_EQ(top["blend"]["name"], "OVER");
  EXPECT_EQ(state["bank"], json::array({"ant.png"}));
  std::vector<json> rows;
  for (const json &l : state["layers"]) {
    rows.insert(rows.end(), l["params"].begin(), l["params"].end());
    for (const json &e : l["effects"]) rows.insert(rows.end(), e["params"].begin(), e["params"].end());
  }
  for (const json &g : state["groups"]) rows.insert(rows.end(), g["params"].begin(), g["params"].end());
  size_t with_values = 0;
  for (const json &row : rows) {
    const std::string path = row["path"];
    std::string why;
    const Param *p = player->controls()->param_at(path, why);
    ASSERT_TRUE(p) << path << ": " << why;
    EXPECT_EQ(row["type"], param_type_name(p->type)) << path;
    ControlArgs value;
    if (!row.contains("value")) continue;
    ASSERT_TRUE(player->controls()->get(path, value, why)) << path;
    ASSERT_EQ(row["value"].size(), value.size()) << path;
    for (size_t i = 0; i < value.size(); i++)
      EXPECT_EQ(row["value"][i], value[i].is_text ? json(value[i].text) : json(value[i].num)) << path;
    with_values++;
  }
  EXPECT_GT(with_values, 20u);
}

TEST_F(Surface, EachMessageIsAppliedOrAnsweredWithWhy) {
  const struct Row {
    const char *message;
    const char *reply;   // the reply's type
    const char *error;   // part of the error, or ""
  } rows[] = {
      {R"({"type":"set","id":1,"path":"/layer/1/alpha","value":[0.25]})", "done", ""},
      {R"({"type":"set","id":2,"path":"/layer/2/effect/1/active","value":false})", "done", ""},
      {R"({"type":"get","id":3,"path":"/layer/2/blit"})", "value", ""},
      {"not json", "error", "not a JSON object"},
      {R"([1,2])", "error", "not a JSON object"},
      {R"({"type":"set","id":4})", "error", "names no path"},
      {R"({"type":"set","id":5,"path":"/layer/9/alpha","value":1})", "error", "no layer 9"},
      {R"({"type":"set","id":6,"path":"/layer/1/alpha","value":{"a":1}})", "error", "numbers and texts"},
      {R"({"type":"set","id":7,"path":"/layer/add","value":"/etc/passwd"})", "error", "bank"},
      {R"({"type":"launch","id":8})", "error", "a set, a get"},
  };
  ASSERT_FALSE(next(*pages[0], "state").is_null());
  for (const Row &r : rows) {
    SCOPED_TRACE(r.message);
    say(*pages[0], r.message);
    const json reply = next(*pages[0], r.reply);
    ASSERT_FALSE(reply.is_null());
    if (*r.error) {
      EXPECT_NE(reply["error"].get<std::string>().find(r.error), std::string::npos) << reply;
    }
  }
  std::string why;
  ControlArgs alpha;
  ASSERT_TRUE(player->controls()->get("/layer/1/alpha", alpha, why));
  EXPECT_NEAR(alpha[0].num, 0.25, 1 / 255.0);
  // A change made elsewhere (keys, OSC) reaches every page, as applied.
  std::string said;
  player->controls()->set("/layer/2/alpha", {ControlArg::number(-3)}, said, why);  // clamped
  for (auto &page : pages) {
    json told;
    for (json changes; told.is_null() && !(changes = next(*page, "changes")).is_null();)
      for (const json &item : changes["items"])
        if (item["path"] == "/layer/2/alpha") told = item["value"];
    EXPECT_EQ(told, json::array({0.0}));
  }
}

// A burst within the page's rate: the frames take a bounded share each.
TEST_F(Surface, ABurstIsSpreadOverFrames) {
  ASSERT_FALSE(next(*pages[0], "state").is_null());
  const int sent = WebSurface::kMaxSetsPerFrame + 36;
  for (int i = 0; i < sent; i++)
    say(*pages[0], R"({"type":"set","path":"/layer/1/alpha","value":)" + std::to_string(i % 2) + "}");
  usleep(200 * 1000);  // all of them in the queue
  const uint64_t before = player->controls()->changes;
  player->step();
  EXPECT_EQ(player->controls()->changes - before, (uint64_t)WebSurface::kMaxSetsPerFrame);
  player->step();
  EXPECT_EQ(player->controls()->changes - before, (uint64_t)sent);
}

// Pictures only for a page that has drawn the last ones: a stalled page
// costs the show nothing more.
TEST_F(Surface, APageGetsItsNextPicturesOnlyOnceItHasDrawnTheLast) {
  ASSERT_FALSE(next(*pages[0], "state").is_null());
  say(*pages[0], R"({"type":"view","preview":320,"thumbs":true})");
  std::vector<std::string> got;
  auto batch = [&](int frames) {
    got.clear();
    for (int f = 0; f < frames && (got.empty() || !got.back()[1]); f++) next(*pages[0], "-", 1, &got);
    return !got.empty() && got.back()[1];
  };
  ASSERT_TRUE(batch(400));
  std::set<int> places;
  for (const std::string &p : got) {
    EXPECT_EQ(p.substr(4, 2), "\xff\xd8");  // a JPEG
    places.insert((uint8_t)p[2] + 256 * (uint8_t)p[3]);
    EXPECT_EQ(p[0], p[2] ? 1 : 0);
  }
  EXPECT_EQ(places, (std::set<int>{0, 1, 2}));
  // Not drawn: for well over a picture's time (but less than the two
  // seconds after which a page is thought lost), nothing more comes.
  const auto drawn_by = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  got.clear();
  while (std::chrono::steady_clock::now() < drawn_by) next(*pages[0], "-", 1, &got);
  EXPECT_TRUE(got.empty());
  say(*pages[0], R"({"type":"ack"})");
  EXPECT_TRUE(batch(400));
}

}  // namespace
