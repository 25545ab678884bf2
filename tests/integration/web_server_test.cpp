// zent-recorder's web page server, asked by a real HTTP client over loopback, politely and not.

#include "web/web_server.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <mutex>
#include <nlohmann/json.hpp>

#include "record/file_writer.h"
#include "web/shares.h"
#include "web/tokens.h"
#include "tests/kit/avi_probe.h"
#include "tests/kit/raw_client.h"
#include "tests/kit/temp_dir.h"
#include "tests/kit/wait_until.h"

namespace zent::testing {
namespace {

using Json = nlohmann::json;

class WebServerTest : public ::testing::Test {
 protected:
  WebServerTest() {
    std::filesystem::create_directories(dir.file("door"));
    std::string error;
    EXPECT_TRUE(Accounts::Add(accounts, "viewer", Role::Viewer, "viewer-pass-1", error)) << error;
    EXPECT_TRUE(Accounts::Add(accounts, "boss", Role::Admin, "boss-pass-12", error)) << error;
    EXPECT_TRUE(WriteTestAvi(dir.file("door/cam_20261207_120000.avi"), 12));
    EXPECT_TRUE(WriteTestAvi(dir.file("door/cam_20261207_130000-1.avi"), 5));
    WriteFile(dir.file("door/notes.txt"), "not a recording");
    // Planted: a link named as a recording of ours, pointing at a file outside.
    WriteFile(dir.file("secret.txt"), "SECRET");
    ::symlink(dir.file("secret.txt").c_str(), dir.file("door/cam_20261207_140000.avi").c_str());

    CameraSetup camera;
    camera.profile.cameraAddress = "127.0.0.5";
    camera.profile.savePath = dir.file("door/cam.avi");
    camera.profile.insertTime = 1;
    camera.preEventSeconds = 2;
    catalog.SetCameras({camera});
    board.SetCameras({"127.0.0.5"});
    Serve(Settings());
  }
  WebSettings Settings() {
    WebSettings settings;
    settings.port = 0;
    settings.accountsPath = accounts;
    settings.cacheFolder = dir.file("cache");
    settings.sharesPath = dir.file("state/shares");
    return settings;
  }
  void Serve(const WebSettings& settings) {
    server.reset();
    server = std::make_unique<WebServer>(settings, catalog, board, feeds, [this](const std::string& line) {
      std::lock_guard lock(mutex);
      lines += line + "\n";
    });
    std::string startError;
    EXPECT_TRUE(server->Start(startError)) << startError;
  }
  httplib::Client Client() {
    httplib::Client client("127.0.0.1", server->Port());
    client.set_follow_location(false);
    return client;
  }
  // Logs in; the session's cookie and CSRF token.
  std::pair<std::string, std::string> LogIn(const std::string& user, const std::string& password) {
    auto answer = Client().Post("/api/login", Json{{"user", user}, {"password", password}}.dump(), "application/json");
    if (!answer || answer->status != 200) return {};
    const std::string cookie = answer->get_header_value("Set-Cookie");
    return {cookie.substr(0, cookie.find(';')), Json::parse(answer->body)["csrf"]};
  }
  std::string Lines() {
    std::lock_guard lock(mutex);
    return lines;
  }

  TempDir dir;
  const std::string accounts = dir.file("config/zent-client/accounts");  // a fresh machine: no folder yet
  CameraRecordings catalog;
  CameraBoard board;
  CameraFeeds feeds;
  std::mutex mutex;
  std::string lines;
  std::unique_ptr<WebServer> server;
};

void ExpectSecurityHeaders(const httplib::Result& answer, const std::string& what) {
  ASSERT_TRUE(answer) << what;
  const std::string policy = answer->get_header_value("Content-Security-Policy");
  EXPECT_NE(policy.find("default-src 'self'"), std::string::npos) << what;
  EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << what;
  EXPECT_EQ(answer->get_header_value("X-Content-Type-Options"), "nosniff") << what;
}

TEST_F(WebServerTest, NothingButTheLogInPageAnswersWithoutASessionAndEveryAnswerIsGuarded) {
  const std::string id = "127_0_0_5~20261207_120000";
  const std::vector<std::pair<std::string, std::string>> routes{{"GET", "/"},
                                                                {"GET", "/index.html"},
                                                                {"GET", "/app.js"},
                                                                {"GET", "/api/session"},
                                                                {"GET", "/api/cameras"},
                                                                {"GET", "/api/recordings?camera=127_0_0_5"},
                                                                {"GET", "/api/recordings/" + id},
                                                                {"DELETE", "/api/recordings/" + id},
                                                                {"GET", "/api/recordings/" + id + "/download"},
                                                                {"GET", "/api/recordings/" + id + "/frames"},
                                                                {"GET", "/api/recordings/" + id + "/frame/0.jpg"},
                                                                {"GET", "/api/recordings/" + id + "/thumbnail.jpg"},
                                                                {"GET", "/api/recordings/" + id + "/video.mp4"},
                                                                {"GET", "/api/events"},
                                                                {"GET", "/api/week?camera=127_0_0_5"},
                                                                {"POST", "/api/logout"},
                                                                {"GET", "/no/such/page"},
                                                                {"GET", "/api/no-such-route"}};
  auto client = Client();
  for (const auto& [method, path] : routes) {
    auto answer = method == "GET" ? client.Get(path) : method == "POST" ? client.Post(path) : client.Delete(path);
    ASSERT_TRUE(answer) << path;
    if (path.rfind("/api/", 0) == 0) EXPECT_EQ(answer->status, 401) << method << " " << path;
    else {
      EXPECT_EQ(answer->status, 303) << path;
      EXPECT_EQ(answer->get_header_value("Location"), "/login") << path;
    }
    EXPECT_EQ(answer->body.find("SECRET"), std::string::npos);
    ExpectSecurityHeaders(answer, path);
  }
  // A forged or expired cookie is no session.
  auto forged = client.Get("/api/cameras", {{"Cookie", "zent_session=" + std::string(64, 'a')}});
  EXPECT_EQ(forged->status, 401);
  auto login = client.Get("/login");
  EXPECT_EQ(login->status, 200);
  ExpectSecurityHeaders(login, "/login");
}

TEST_F(WebServerTest, AViewerSeesAndPlaysOnlyThisProgramsRecordingsAndCannotDelete) {
  const auto [cookie, csrf] = LogIn("viewer", "viewer-pass-1");
  ASSERT_FALSE(cookie.empty());
  auto client = Client();
  const httplib::Headers session{{"Cookie", cookie}};

  const Json cameras = Json::parse(client.Get("/api/cameras", session)->body);
  ASSERT_EQ(cameras.size(), 1u);
  EXPECT_EQ(cameras[0]["id"], "127_0_0_5");
  auto listed = client.Get("/api/recordings?camera=127_0_0_5", session);
  ExpectSecurityHeaders(listed, "list");
  const Json list = Json::parse(listed->body);
  ASSERT_EQ(list["recordings"].size(), 2u) << listed->body;  // not the planted link, not the text file
  const Json newest = list["recordings"][0];
  EXPECT_EQ(newest["id"], "127_0_0_5~20261207_130000-1");
  EXPECT_EQ(newest["codec"], "mjpeg");
  EXPECT_EQ(list["days"], Json::array({"2026-12-07"}));

  // Each frame as the file stores it.
  const Json frames = Json::parse(client.Get(list["recordings"][1]["frames"].get<std::string>(), session)->body);
  EXPECT_EQ(frames["count"], ProbeAvi(dir.file("door/cam_20261207_120000.avi")).packets);
  auto jpeg = client.Get("/api/recordings/127_0_0_5~20261207_120000/frame/3.jpg", session);
  ASSERT_EQ(jpeg->status, 200);
  EXPECT_EQ(jpeg->get_header_value("Content-Type"), "image/jpeg");
  ASSERT_GE(jpeg->body.size(), 4u);
  EXPECT_EQ(jpeg->body.substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(jpeg->body.substr(jpeg->body.size() - 2), "\xFF\xD9");
  const std::string file = ReadFile(dir.file("door/cam_20261207_120000.avi"));
  EXPECT_EQ(file.substr(frames["offsets"][3].get<std::size_t>(), jpeg->body.size()), jpeg->body);
  auto part =
      client.Get("/api/recordings/127_0_0_5~20261207_120000/download", {{"Cookie", cookie}, {"Range", "bytes=0-99"}});
  EXPECT_EQ(part->status, 206);
  EXPECT_EQ(part->body, file.substr(0, 100));

  // Nothing outside this program's recordings, however the path is spelt.
  for (const char* path :
       {"/api/recordings/127_0_0_5~20261207_140000/download", "/api/recordings/..%2f..%2fsecret.txt/download",
        "/api/recordings/127_0_0_5~..%2f..%2fsecret/download", "/api/recordings/127_0_0_5~%252e%252e/download",
        "/api/recordings/127_0_0_5~20261207_120000/frame/99999.jpg", "/api/recordings//etc/passwd", "/../../secret.txt",
        "/api/recordings/127_0_0_5~20261207_120000/download/../../../secret.txt"}) {
    auto answer = client.Get(path, session);
    ASSERT_TRUE(answer) << path;
    EXPECT_GE(answer->status, 400) << path;
    EXPECT_EQ(answer->body.find("SECRET"), std::string::npos) << path;
  }

  // A viewer may not delete, with or without the token.
  EXPECT_EQ(client.Delete("/api/recordings/127_0_0_5~20261207_120000", session)->status, 403);
  EXPECT_EQ(
      client.Delete("/api/recordings/127_0_0_5~20261207_120000", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}})->status,
      403);
  EXPECT_TRUE(std::filesystem::exists(dir.file("door/cam_20261207_120000.avi")));
}

TEST_F(WebServerTest, AnAdminDeletesWithTheTokenAndTheSixthWrongPasswordInAMinuteWaits) {
  const auto [cookie, csrf] = LogIn("boss", "boss-pass-12");
  ASSERT_FALSE(cookie.empty());
  EXPECT_NE(cookie.find("zent_session="), std::string::npos);
  auto client = Client();
  auto listed = [&] {
    return Json::parse(client.Get("/api/recordings?camera=127_0_0_5", {{"Cookie", cookie}})->body)["total"];
  };
  EXPECT_EQ(listed(), 2);
  // Kept: without the CSRF token nothing changes; with it the mark is there, and the delete of a
  // person takes the mark with the recording.
  const std::string keep = "/api/recordings/127_0_0_5~20261207_120000/keep";
  EXPECT_EQ(client.Post(keep, {{"Cookie", cookie}}, "", "application/json")->status, 403);
  EXPECT_EQ(client.Post(keep, {{"Cookie", cookie}, {"X-CSRF-Token", csrf}}, "", "application/json")->status, 200);
  EXPECT_EQ(client
                .Post("/api/recordings/127_0_0_5~20261207_999999/keep", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}},
                      "", "application/json")
                ->status,
            404);
  EXPECT_TRUE(std::filesystem::exists(dir.file("door/cam_20261207_120000.avi.keep")));
  EXPECT_EQ(Json::parse(client.Get("/api/recordings/127_0_0_5~20261207_120000", {{"Cookie", cookie}})->body)["kept"],
            true);
  EXPECT_EQ(client.Delete("/api/recordings/127_0_0_5~20261207_120000", {{"Cookie", cookie}})->status, 403);
  auto deleted =
      client.Delete("/api/recordings/127_0_0_5~20261207_120000", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}});
  EXPECT_EQ(deleted->status, 200) << deleted->body;
  EXPECT_FALSE(std::filesystem::exists(dir.file("door/cam_20261207_120000.avi")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("door/cam_20261207_120000.avi.keep")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("secret.txt")));
  EXPECT_EQ(listed(), 1);  // the folder read again once it changed

  for (int i = 0; i < 5; ++i) {
    auto wrong = client.Post("/api/login", R"({"user":"boss","password":"guess-)" + std::to_string(i) + "\"}",
                             "application/json");
    EXPECT_EQ(wrong->status, 401);
  }
  auto sixth = client.Post("/api/login", R"({"user":"boss","password":"boss-pass-12"})", "application/json");
  EXPECT_EQ(sixth->status, 429);
  EXPECT_FALSE(sixth->get_header_value("Retry-After").empty());
  const std::string said = Lines();
  EXPECT_EQ(said.find("guess-"), std::string::npos) << said;
  EXPECT_EQ(said.find("$argon2id$"), std::string::npos) << said;
  EXPECT_NE(said.find("failed log-in as \"boss\" from 127.0.0.1"), std::string::npos) << said;
  struct stat info {};
  ASSERT_EQ(::stat(accounts.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// An H.264 recording is copied into an MP4 with its index in front, once, and served in ranges.
TEST_F(WebServerTest, AnH264RecordingBecomesAnMp4ByCopyWithItsIndexInFront) {
  const std::string avi = dir.file("door/cam_20261207_150000.avi");
  ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=15 -t 3 -c:v libx264 -g 15 "
                         "-bf 0 -pix_fmt yuv420p " +
                         avi)
                            .c_str()),
            0);
  const auto [cookie, csrf] = LogIn("viewer", "viewer-pass-1");
  auto client = Client();
  const Json recording =
      Json::parse(client.Get("/api/recordings/127_0_0_5~20261207_150000", {{"Cookie", cookie}})->body);
  EXPECT_EQ(recording["codec"], "h264");
  ASSERT_TRUE(recording.contains("video"));
  EXPECT_FALSE(recording.contains("frames"));
  auto whole = client.Get(recording["video"].get<std::string>(), {{"Cookie", cookie}});
  ASSERT_EQ(whole->status, 200) << whole->body;
  EXPECT_EQ(whole->get_header_value("Content-Type"), "video/mp4");
  // +faststart: the index (moov) before the media (mdat).
  EXPECT_LT(whole->body.find("moov"), whole->body.find("mdat"));
  const std::string mp4 = dir.file("served.mp4");
  WriteFile(mp4, whole->body);
  EXPECT_EQ(ProbeAvi(mp4).packets, ProbeAvi(avi).packets);
  EXPECT_EQ(DecodeErrors(mp4), "");
  auto part = client.Get(recording["video"].get<std::string>(), {{"Cookie", cookie}, {"Range", "bytes=1000-1999"}});
  EXPECT_EQ(part->status, 206);
  EXPECT_EQ(part->body, whole->body.substr(1000, 1000));
}

// H.264 recordings ten seconds long with a key frame a second, beginning at `start` as their tag
// says, named by the local time.
std::string WriteH264Recording(const TempDir& dir, std::time_t start) {
  std::tm local{};
  ::localtime_r(&start, &local);
  char name[64];
  std::strftime(name, sizeof name, "door/cam_%Y%m%d_%H%M%S.avi", &local);
  const std::string path = dir.file(name);
  const std::string command =
      "ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=15 -t 10 -c:v libx264 -g 15 "
      "-bf 0 -pix_fmt yuv420p -metadata date=" +
      FileDate(std::chrono::system_clock::from_time_t(start)) + " " + path;
  return std::system(command.c_str()) == 0 ? path : "";
}

std::string Iso(std::time_t at) {
  char text[32];
  std::tm utc{};
  ::gmtime_r(&at, &utc);
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// A clip across two recordings with a gap between them starts at the key frame before its start
// and holds every frame of the span once; a share link opens its recording or clip without a
// log-in and nothing else, until it is revoked; wrong links wait like wrong passwords.
TEST_F(WebServerTest, AClipSpansRecordingsAndAShareLinkOpensOnlyItsOwnUntilRevoked) {
  const std::time_t t0 = std::time(nullptr) - 3600;
  const std::string first = WriteH264Recording(dir, t0), second = WriteH264Recording(dir, t0 + 12);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  const auto [cookie, csrf] = LogIn("boss", "boss-pass-12");
  auto client = Client();
  const httplib::Headers session{{"Cookie", cookie}}, changing{{"Cookie", cookie}, {"X-CSRF-Token", csrf}};
  std::string from = Iso(t0 + 5);
  from.insert(from.size() - 1, ".5");
  auto clip = client.Get("/api/cameras/127_0_0_5/clip?from=" + from + "&to=" + Iso(t0 + 15), session);
  ASSERT_EQ(clip->status, 200) << clip->body;
  EXPECT_EQ(clip->get_header_value("Content-Type"), "video/mp4");
  EXPECT_NE(clip->get_header_value("Content-Disposition").find("attachment; filename=\"127_0_0_5_"), std::string::npos);
  WriteFile(dir.file("clip.mp4"), clip->body);
  const AviProbe probe = ProbeAvi(dir.file("clip.mp4"));
  EXPECT_TRUE(probe.startsWithKeyFrame);
  EXPECT_EQ(DecodeErrors(dir.file("clip.mp4")), "");
  // 5 s to the first's end at 10 s, then 12 s to 15 s: 75 + 45 frames, and the 2 s between as time.
  EXPECT_EQ(probe.packets, 120);
  EXPECT_NEAR(probe.seconds, 10, 0.2);
  for (const std::string& bad : {"?from=" + Iso(t0) + "&to=" + Iso(t0 + 1801), "?from=" + Iso(t0) + "&to=" + Iso(t0),
                                 "?from=yesterday&to=" + Iso(t0)})
    EXPECT_EQ(client.Get("/api/cameras/127_0_0_5/clip" + bad, session)->status, 400) << bad;
  EXPECT_EQ(
      client.Get("/api/cameras/127_0_0_5/clip?from=" + Iso(t0 - 86400) + "&to=" + Iso(t0 - 86000), session)->status,
      404);

  // Links: admins only, with the token, for 1 to 168 hours.
  const std::string recording = "/api/recordings/" + std::string("127_0_0_5~") +
                                std::filesystem::path(first).stem().string().substr(4) + "/share";
  EXPECT_EQ(client.Post(recording, session, R"({"hours":1})", "application/json")->status, 403);
  for (const char* hours : {R"({"hours":0})", R"({"hours":169})", R"({"hours":"1"})", "[]"})
    EXPECT_EQ(client.Post(recording, changing, hours, "application/json")->status, 400) << hours;
  auto made = client.Post(recording, changing, R"({"hours":1})", "application/json");
  ASSERT_EQ(made->status, 201) << made->body;
  const std::string recordingLink = Json::parse(made->body)["url"];
  const std::string clipShare = "/api/cameras/127_0_0_5/clip/share?from=" + Iso(t0 + 5) + "&to=" + Iso(t0 + 15);
  made = client.Post(clipShare, changing, R"({"hours":168})", "application/json");
  ASSERT_EQ(made->status, 201) << made->body;
  const std::string clipLink = Json::parse(made->body)["url"];
  const std::string clipId = Json::parse(made->body)["id"];
  const auto [viewerCookie, viewerCsrf] = LogIn("viewer", "viewer-pass-1");
  EXPECT_EQ(client
                .Post(recording, {{"Cookie", viewerCookie}, {"X-CSRF-Token", viewerCsrf}}, R"({"hours":1})",
                      "application/json")
                ->status,
            403);

  // Opened without a session: the recording as an MP4 made of it, the clip as made above.
  auto stranger = Client();
  auto opened = stranger.Get(recordingLink);
  ASSERT_EQ(opened->status, 200) << opened->body;
  EXPECT_EQ(opened->get_header_value("Content-Type"), "video/mp4");
  WriteFile(dir.file("shared.mp4"), opened->body);
  EXPECT_EQ(ProbeAvi(dir.file("shared.mp4")).packets, ProbeAvi(first).packets);
  EXPECT_EQ(stranger.Get(clipLink)->body, clip->body);
  // Only its own: no other path beneath it, no other recording.
  EXPECT_GE(stranger.Get(recordingLink + "/../../api/recordings/127_0_0_5~20261207_120000/download")->status, 400);
  EXPECT_EQ(stranger.Get("/api/recordings/127_0_0_5~20261207_120000/download")->status, 401);

  // Listed without their tokens; revoked, the link is gone.
  const std::string listed = client.Get("/api/shares", session)->body;
  EXPECT_EQ(Json::parse(listed)["shares"].size(), 2u);
  EXPECT_EQ(listed.find(clipLink.substr(3)), std::string::npos);
  EXPECT_EQ(client.Get("/api/shares", {{"Cookie", viewerCookie}})->status, 403);
  EXPECT_EQ(client.Delete("/api/shares/" + clipId, session)->status, 403);
  EXPECT_EQ(client.Delete("/api/shares/" + clipId, changing)->status, 200);
  EXPECT_EQ(stranger.Get(clipLink)->status, 404);
  EXPECT_EQ(stranger.Get(recordingLink)->status, 200);
  EXPECT_EQ(Lines().find(recordingLink.substr(3)), std::string::npos);

  // Four more wrong links from this address (the revoked one was the first): the right one waits too.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(stranger.Get("/s/zs_" + std::string(64, 'a' + i))->status, 404);
  auto waits = stranger.Get(recordingLink);
  EXPECT_EQ(waits->status, 429);
  EXPECT_FALSE(waits->get_header_value("Retry-After").empty());
}

// What is kept of a link is its hash, in a private file a restart reads; it ends with its hours.
TEST(ShareStoreTest, ALinkSurvivesARestartAsItsHashAloneAndEndsWithItsHours) {
  TempDir dir;
  const std::string path = dir.file("state/shares");
  Share share;
  share.recording = "127_0_0_5~20261207_120000";
  share.by = "boss";
  std::string error;
  const std::string token = ShareStore(path).Add(share, 2, 1000000, error);
  ASSERT_FALSE(token.empty()) << error;
  const std::string file = ReadFile(path);
  EXPECT_EQ(file.find(token), std::string::npos);
  EXPECT_NE(file.find(Sha256(token)), std::string::npos);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ShareStore again(path);
  ASSERT_TRUE(again.Open(token, 1000000 + 7199));
  EXPECT_EQ(again.Open(token, 1000000 + 7199)->recording, share.recording);
  EXPECT_FALSE(again.Open(token, 1000000 + 7200));
  EXPECT_FALSE(again.Open(token + "x", 1000000));
}

// Streamed answers hold no thread: one session's news streams stop at its cap while the server
// still answers at once, and news reaches every open stream.
TEST_F(WebServerTest, StreamsAreCappedPerSessionHoldNoThreadAndCarryTheNews) {
  const auto [cookie, csrf] = LogIn("viewer", "viewer-pass-1");
  ASSERT_FALSE(cookie.empty());
  const std::string ask = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie + "\r\n\r\n";
  std::vector<std::unique_ptr<RawClient>> streams;
  for (int i = 0; i < 20; ++i) {  // more than the pool has threads
    streams.push_back(std::make_unique<RawClient>(server->Port()));
    ASSERT_TRUE(streams.back()->Send(ask));
  }
  for (auto& stream : streams)
    EXPECT_NE(stream->Read(std::chrono::seconds(5), "\r\n\r\n").find(" 200 "), std::string::npos);
  RawClient one_more(server->Port());
  one_more.Send(ask);
  EXPECT_NE(one_more.Read(std::chrono::seconds(5), "}").find(" 429 "), std::string::npos);
  auto cameras = Client().Get("/api/cameras", {{"Cookie", cookie}});
  ASSERT_TRUE(cameras);
  EXPECT_EQ(cameras->status, 200);

  board.ObserverFor("127.0.0.5")->OnCycleEvent({CycleEvent::Kind::CameraEvent, std::chrono::steady_clock::now()});
  for (auto& stream : streams)
    EXPECT_NE(stream->Read(std::chrono::seconds(5), "\"type\":\"event\"").find("\"type\":\"event\""),
              std::string::npos);
}

int OpenDescriptors() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// Strangers without a session hold no more descriptors than the bound, no head past its deadline,
// and no memory past a connection's own; a logged-in user is answered meanwhile.
TEST_F(WebServerTest, StrangersHoldNeitherDescriptorsNorThreadsNorMemory) {
  WebSettings settings = Settings();
  settings.limits.connections = 24;
  settings.limits.connectionsPerAddress = 8;
  settings.limits.headDeadline = std::chrono::milliseconds(1000);
  Serve(settings);
  const auto [cookie, csrf] = LogIn("viewer", "viewer-pass-1");
  ASSERT_FALSE(cookie.empty());
  const int before = OpenDescriptors();
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 48; ++i) {
    const std::string from = "127.0.0." + std::to_string(10 + i / 12);  // twelve from each of four addresses
    slow.push_back(std::make_unique<RawClient>(server->Port(), from.c_str()));
    slow.back()->Send("G");
  }
  // Each sends its head a byte at a time, as if it never ended.
  const auto start = std::chrono::steady_clock::now();
  int most = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(600)) {
    for (auto& client : slow) client->Send("x");
    most = std::max(most, OpenDescriptors() - before - 48);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_LE(most, 24 + 2);  // the server's side: its bound, and no more
  auto cameras = Client().Get("/api/cameras", {{"Cookie", cookie}});
  ASSERT_TRUE(cameras);
  EXPECT_EQ(cameras->status, 200);
  // The head's deadline has closed every one of them, however busy they kept it.
  EXPECT_TRUE(WaitUntil(
      [&] {
        int open = 0;
        for (auto& client : slow)
          open +=
              client->Send("x") && !client->Closed() && (client->Read(std::chrono::milliseconds(1)), !client->Closed());
        return open == 0;
      },
      std::chrono::seconds(15)));

  // A head larger than a connection's memory is refused before it is taken whole.
  RawClient huge(server->Port());
  huge.Send("GET /api/cameras HTTP/1.1\r\nHost: x\r\n");
  const std::string line = "X-Filler: " + std::string(1000, 'a') + "\r\n";
  for (int sent = 0; sent < 2000 && huge.Send(line); ++sent) {
  }
  const std::string answer = huge.Read(std::chrono::seconds(5));
  EXPECT_TRUE(answer.rfind("HTTP/1.1 431", 0) == 0 || (answer.empty() && huge.Closed())) << answer;
  // Bodies: none where a route takes none, a Content-Length within the bound where it takes one.
  auto refused = [&](const std::string& head) {
    RawClient client(server->Port());
    client.Send(head);
    const std::string answer = client.Read(std::chrono::seconds(5), "}");
    return answer.substr(0, std::min<std::size_t>(12, answer.size()));
  };
  EXPECT_EQ(refused("POST /api/login HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"), "HTTP/1.1 411");
  EXPECT_EQ(refused("POST /api/login HTTP/1.1\r\nHost: x\r\nContent-Length: 300000000\r\n\r\n"), "HTTP/1.1 413");
  EXPECT_EQ(
      refused("GET /api/cameras HTTP/1.1\r\nHost: x\r\nCookie: " + cookie + "\r\nTransfer-Encoding: chunked\r\n\r\n"),
      "HTTP/1.1 413");
}

// Guesses are counted before the password is checked, a right password clears only its own
// name's failures, a proxy's address is not the client's, and another site cannot log a browser in.
TEST_F(WebServerTest, LogInsCannotBeGuessedAroundTheLimiterOrSentFromAnotherSite) {
  const auto post = [&](const std::string& user, const std::string& password, const httplib::Headers& headers = {}) {
    auto answer =
        Client().Post("/api/login", headers, Json{{"user", user}, {"password", password}}.dump(), "application/json");
    return answer ? answer->status : 0;
  };
  std::vector<std::thread> guesses;
  std::atomic<int> checked{0};
  for (int i = 0; i < 24; ++i)
    guesses.emplace_back([&, i] {
      // Raw, not the HTTP library's client: that one is not for many threads at once.
      RawClient guess(server->Port());
      const std::string body = R"({"user":"boss","password":"guess-)" + std::to_string(i) + "\"}";
      guess.Send("POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\n\r\n" + body);
      checked += guess.Read(std::chrono::seconds(10), "}").rfind("HTTP/1.1 401", 0) == 0;
    });
  for (auto& guess : guesses) guess.join();
  EXPECT_GE(checked, 1);
  EXPECT_LE(checked, 5);
  // A busy machine may have told more of them to come back later, which is no guess: the rest of
  // the five, one after another.
  for (int i = 0; i < 5 && checked < 5; ++i) checked += post("boss", "guess-again") == 401;
  EXPECT_EQ(post("boss", "boss-pass-12"), 429);

  // A viewer's right password between guesses at another name gives the guesser nothing.
  WebSettings again = Settings();
  Serve(again);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(post("boss", "guess"), 401);
  EXPECT_EQ(post("viewer", "viewer-pass-1"), 200);
  EXPECT_EQ(post("boss", "guess"), 401);
  EXPECT_EQ(post("boss", "guess"), 401);
  EXPECT_EQ(post("boss", "boss-pass-12"), 429);  // five guesses, whatever came between them

  // Behind a proxy every client has its address: a stranger's guesses lock out only the name guessed.
  Serve(again);
  const httplib::Headers proxied{{"X-Forwarded-For", "203.0.113.9"}};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(post("boss", "guess", proxied), 401);
  EXPECT_EQ(post("boss", "boss-pass-12", proxied), 429);
  EXPECT_EQ(post("viewer", "viewer-pass-1", proxied), 200);

  EXPECT_EQ(post("viewer", "viewer-pass-1", {{"Sec-Fetch-Site", "cross-site"}}), 403);
  EXPECT_EQ(post("viewer", "viewer-pass-1", {{"Origin", "http://evil.example"}}), 403);
  auto form = Client().Post("/api/login", R"({"user":"viewer","password":"viewer-pass-1"})", "text/plain");
  EXPECT_EQ(form->status, 415);
}

// A session is the account as it was when it logged in.
TEST_F(WebServerTest, AChangedPasswordOrRoleOrARemovedAccountEndsItsSessions) {
  const auto [cookie, csrf] = LogIn("viewer", "viewer-pass-1");
  const auto [bossCookie, bossCsrf] = LogIn("boss", "boss-pass-12");
  auto client = Client();
  EXPECT_EQ(client.Get("/api/cameras", {{"Cookie", cookie}})->status, 200);
  std::string error;
  ASSERT_TRUE(Accounts::Add(accounts, "viewer", Role::Admin, "another-pass-2", error)) << error;
  EXPECT_EQ(client.Get("/api/cameras", {{"Cookie", cookie}})->status, 401);
  EXPECT_EQ(
      client.Delete("/api/recordings/127_0_0_5~20261207_120000", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}})->status,
      401);
  EXPECT_EQ(client.Get("/api/cameras", {{"Cookie", bossCookie}})->status, 200);  // another account's stays
  WriteFile(accounts, "");
  ::chmod(accounts.c_str(), 0600);
  EXPECT_EQ(client.Get("/api/cameras", {{"Cookie", bossCookie}})->status, 401);
}

// What was answered wrongly: a recording deleted under its writer, several ranges, the metrics
// through a proxy, a reason for every error, a TLS key others may read.
TEST_F(WebServerTest, EveryRefusalSaysItsOwnReason) {
  const auto [cookie, csrf] = LogIn("boss", "boss-pass-12");
  auto client = Client();
  const httplib::Headers session{{"Cookie", cookie}, {"X-CSRF-Token", csrf}};
  const std::string being = dir.file("door/cam_20261207_160000.avi");
  ASSERT_TRUE(WriteTestAvi(being, 3));
  board.ObserverFor("127.0.0.5")->OnVideoReport({VideoReport::Kind::RecordingStarted, "", being});
  auto busy = client.Delete("/api/recordings/127_0_0_5~20261207_160000", session);
  EXPECT_EQ(busy->status, 409) << busy->body;
  EXPECT_TRUE(std::filesystem::exists(being));
  board.ObserverFor("127.0.0.5")->OnVideoReport({VideoReport::Kind::RecordingSaved, "", being});
  EXPECT_EQ(client.Delete("/api/recordings/127_0_0_5~20261207_160000", session)->status, 200);

  const std::string download = "/api/recordings/127_0_0_5~20261207_120000/download";
  const std::string whole = client.Get(download, {{"Cookie", cookie}})->body;
  auto two = client.Get(download, {{"Cookie", cookie}, {"Range", "bytes=0-9,20-29"}});
  EXPECT_EQ(two->status, 206);
  EXPECT_EQ(two->body, whole.substr(0, 10));
  EXPECT_EQ(two->get_header_value("Content-Range"), "bytes 0-9/" + std::to_string(whole.size()));
  auto outside = client.Get(download, {{"Cookie", cookie}, {"Range", "bytes=99999999-"}});
  EXPECT_EQ(outside->status, 416);
  EXPECT_EQ(outside->get_header_value("Content-Range"), "bytes */" + std::to_string(whole.size()));
  auto put = client.Put("/api/cameras", session, "", "application/json");
  EXPECT_EQ(put->status, 405);
  EXPECT_NE(put->body.find("method not allowed"), std::string::npos) << put->body;

  WebSettings settings = Settings();
  settings.healthFromLocalhost = true;
  Serve(settings);
  EXPECT_EQ(Client().Get("/metrics")->status, 200);
  EXPECT_EQ(Client().Get("/metrics", {{"X-Forwarded-For", "203.0.113.9"}})->status, 401);
  EXPECT_EQ(Client().Get("/healthz", {{"Via", "1.1 proxy"}})->status, 401);

  settings.certFile = dir.file("web.crt");
  settings.keyFile = dir.file("web.key");
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout " +
                         settings.keyFile + " -out " + settings.certFile + " >/dev/null 2>&1")
                            .c_str()),
            0);
  ::chmod(settings.keyFile.c_str(), 0644);
  WebServer open(settings, catalog, board, feeds, [](const std::string&) {});
  std::string error;
  EXPECT_FALSE(open.Start(error));
  EXPECT_NE(error.find(settings.keyFile), std::string::npos) << error;
}

// Under TLS the session cookie is Secure, and the page answers only over TLS.
TEST_F(WebServerTest, UnderTlsTheCookieIsSecure) {
  const std::string cert = dir.file("web.crt"), key = dir.file("web.key");
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
                         "subjectAltName=IP:127.0.0.1 -keyout " +
                         key + " -out " + cert + " >/dev/null 2>&1")
                            .c_str()),
            0);
  WebSettings settings;
  settings.port = 0;
  settings.accountsPath = accounts;
  settings.certFile = cert;
  settings.keyFile = key;
  WebServer tls(settings, catalog, board, feeds, [](const std::string&) {});
  std::string error;
  ASSERT_TRUE(tls.Start(error)) << error;
  EXPECT_EQ(tls.Url().rfind("https://", 0), 0u);
  httplib::SSLClient client("127.0.0.1", tls.Port());
  client.set_ca_cert_path(cert.c_str());
  client.enable_server_certificate_verification(true);
  auto login = client.Post("/api/login", R"({"user":"viewer","password":"viewer-pass-1"})", "application/json");
  ASSERT_TRUE(login) << httplib::to_string(login.error());
  EXPECT_EQ(login->status, 200);
  EXPECT_NE(login->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);
  httplib::Client plain("127.0.0.1", tls.Port());
  plain.set_connection_timeout(2);
  plain.set_read_timeout(2);
  auto refused = plain.Get("/login");
  EXPECT_TRUE(!refused || refused->status != 200);
}

}  // namespace
}  // namespace zent::testing
