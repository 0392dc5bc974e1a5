/*  kolvex - the control surface in the browser
 *
 *  `--http PORT` serves a page (web/page: plain HTML, CSS and JavaScript
 *  modules) that shows the programme, one strip per layer with its
 *  thumbnail and a control for every parameter, the bank, the maps, the
 *  tempo, the record and the stream. The controls are made from the
 *  parameter tables (params.h) the tree (controls.h) reads: the page never
 *  knows a kind of layer, only row types. A change made in the page goes
 *  through the tree like OSC's (recorded, replayed, fed back); every change
 *  the tree makes, whatever made it, goes to every open page.
 *
 *  The surface is a control source: messages from pages are queued by the
 *  server's threads and applied in poll(), between frames, at most
 *  kMaxSetsPerFrame a frame (the rest wait; a queue over kMaxQueued drops
 *  and tells once). Pictures are sampled between frames only when one is
 *  due and the encoder is free (thumbnails.h).
 *
 *  The messages, JSON text (pictures are binary):
 *
 *  page -> player
 *    {"type":"set","id":N,"path":"/layer/2/alpha","value":[0.5]}
 *        value: an array of numbers and strings as the row takes them
 *        (a bare number, string or boolean is one argument; a trigger
 *        may have none). id: any number, echoed.
 *    {"type":"get","id":N,"path":"/layer/2/alpha"}
 *    {"type":"view","preview":W,"thumbs":true|false}
 *        the preview's width in pixels (0: none) and whether to send the
 *        layers' thumbnails; none are sent before a view.
 *    {"type":"ack"}   the last pictures are drawn: the next may come.
 *
 *  player -> page
 *    {"type":"state","width":W,"height":H,"fps":F,
 *     "layers":[{"place":1,"name":"ant.png","label":"layer 1 ant.png",
 *                "path":"/layer/1/","selected":true,"params":[ROW...],
 *                "effects":[{"name":"vertigo","path":"/layer/1/effect/1/",
 *                            "params":[ROW...]}],
 *                "blend":{"name":"OVER","path":"/layer/1/blend/",
 *                         "params":[ROW...]} or null}],
 *     "groups":[{"name":"osd","path":"/osd/","params":[ROW...]},
 *               {"name":"show","path":"/","params":[ROW...]},
 *               {"name":"modulation","path":"/","params":[ROW...]}],
 *     "bank":["ant.png","clip.mp4",...],
 *     "token":true|false}
 *        sent on connecting and whenever the stack's shape changes (a
 *        layer added, removed, moved or showing another source, an
 *        effect's or a blend's table changed).
 *        ROW: {"path":"/layer/1/alpha","name":"alpha",
 *              "type":"number|integer|boolean|choice|colour|position|text|trigger",
 *              "min":0,"max":1,"def":1,"step":0.05,"unit":"","help":"...",
 *              "live":true,"choices":["ADD",...],
 *              "extras":[{"name":"target","min":0,"max":1}],
 *              "value":[...]}   (no "value" for a trigger)
 *        A layer's rows are its table's and the tree's own (select, key,
 *        source, remove, move); "/layer/add" is in the "show" group.
 *    {"type":"changes","items":[{"path":"/layer/2/alpha","value":[0.5]},...]}
 *        every change the tree made since the last, by number, as applied
 *        (clamped), at most one a path (the last), once a frame.
 *    {"type":"done","id":N,"said":"layer 2 ant.png: ALPHA 128"}
 *    {"type":"value","id":N,"path":"...","value":[...]}
 *    {"type":"error","id":N,"error":"no layer 9"}   (no id: the message
 *        had none or did not parse)
 *    {"type":"status","line":"layer 2 ant.png: ALPHA 128"}
 *        what the window's status line tells.
 *    {"type":"live","frame":N,"fps":24.0,"paused":false,
 *     "record":{"file":"set.show","on":true} or null,
 *     "stream":{"url":"udp://...","dropped":0} or null,
 *     "tempo":{"bpm":120.0,"phase":0.25} or null,
 *     "maps":["midi/cc/1/7 /layer/2/alpha 0 1 linear",...] or null}
 *        about four times a second.
 *    binary: 4 bytes then a JPEG: byte 0 the kind (0 the programme, 1 a
 *        layer), byte 1 zero, bytes 2-3 the layer's place (little-endian,
 *        0 for the programme); byte 1 is 1 on the last picture of a batch.
 *        After a batch's last picture the page sends an ack; nothing more
 *        is sent to it before (or before two seconds have passed).
 */
#ifndef KOLVEX_WEB_SURFACE_H
#define KOLVEX_WEB_SURFACE_H

#include <memory>
#include <string>

#include "player.h"

class ShowRecorder;

struct SurfaceOptions {
  std::string addr = "127.0.0.1";
  int port = 0;
  std::string token;
  std::string root;  // the page's folder; empty: the installed one
};

// The installed page's folder, found from the program's own file
// (bin/kolvex -> share/kolvex/web under the same prefix).
std::string installed_page_dir();

class WebSurface : public ControlSource {
 public:
  static const int kMaxSetsPerFrame = 64;
  static const int kMaxQueued = 1024;

  WebSurface(Player &player, const SurfaceOptions &opt);
  ~WebSurface() override;
  // Listens; false with one line in `err` (status 2).
  bool start(std::string &err);
  int port() const;
  // The record the page shows as on or off (null: none).
  void show_record(const ShowRecorder *recorder);

  void poll(Controls &controls, int64_t frame) override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The surface a command line asks for (--http), attached to `player` as a
// control source; false with `err`. Tells "control surface at URL" unless
// quiet.
bool attach_surface(Player &player, const PlayerOptions &opt, const ShowRecorder *recorder,
                    std::string &err);

#endif
