// The live view's login and the names it serves, without a server.
#include "capture/live_view_login.h"

#include <gtest/gtest.h>

#include <string>

#include "capture/event_command.h"
#include "capture/video_name.h"
#include "common/digest.h"

namespace talvex {
namespace {

using Clock = DigestLogin::Clock;
using std::chrono::seconds;

// RFC 2617's example, whose response the RFC gives.
TEST(DigestLogin, ResponseIsTheRfcsOwn) {
  const std::string ha1 = md5_hex("Mufasa:testrealm@host.com:Circle Of Life");
  EXPECT_EQ(digest_response(ha1, "GET", "/dir/index.html", "dcd98b7102dd2f0e8b11d0f600bfb0c093",
                            "00000001", "0a4f113b", "auth"),
            "6629fae49393a05397450978507c4ef1");
  DigestCredentials c;
  ASSERT_TRUE(parse_digest_authorization(
      "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
      "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", qop=auth, "
      "nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\", "
      "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"",
      c));
  EXPECT_EQ(c.username, "Mufasa");
  EXPECT_EQ(c.uri, "/dir/index.html");
  EXPECT_EQ(c.qop, "auth");
  EXPECT_EQ(c.nc, "00000001");
  EXPECT_EQ(c.opaque, "5ccc069c403ebaf9f0171e9517f40e41");
}

// A client as a browser is one: it takes the server's challenge and answers it.
struct Client {
  std::string user = "cam";
  std::string realm = "Talvex 0011223344556677";
  std::string password = "pass word";
  std::string cnonce = "f2a3";

  static std::string field(const std::string& challenge, const std::string& name) {
    const std::size_t at = challenge.find(name + "=\"");
    if (at == std::string::npos) return "";
    const std::size_t start = at + name.size() + 2;
    return challenge.substr(start, challenge.find('"', start) - start);
  }

  std::string answer(const std::string& challenge, const std::string& uri, unsigned count,
                     const std::string& method = "GET") const {
    char nc[9];
    std::snprintf(nc, sizeof nc, "%08x", count);
    const std::string nonce = field(challenge, "nonce");
    const std::string ha1 = md5_hex(user + ":" + realm + ":" + password);
    return "Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" + nonce +
           "\", uri=\"" + uri + "\", algorithm=MD5, qop=auth, nc=" + nc + ", cnonce=\"" + cnonce +
           "\", response=\"" + digest_response(ha1, method, uri, nonce, nc, cnonce, "auth") +
           "\", opaque=\"" + field(challenge, "opaque") + "\"";
  }
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(DigestLogin, ChecksEveryPartOfTheAnswer) {
  const Clock::time_point start = Clock::now();
  DigestLogin login("run secret", start);
  const DigestAccount account{"cam", "Talvex 0011223344556677",
                              md5_hex("cam:Talvex 0011223344556677:pass word")};
  const std::string challenge = login.challenge(account, false, start);
  EXPECT_NE(challenge.find("qop=\"auth\""), std::string::npos) << challenge;
  EXPECT_EQ(challenge.find("stale"), std::string::npos);
  Client client;
  Client wrong_password = client;
  wrong_password.password = "pass Word";
  Client wrong_user = client;
  wrong_user.user = "Cam";

  using V = DigestLogin::Verdict;
  const std::string other_run_nonce =
      Client::field(DigestLogin("another run", start).challenge(account, false, start), "nonce");
  const std::string nonce = Client::field(challenge, "nonce");
  std::string forged = nonce;
  forged[0] = forged[0] == '0' ? '1' : '0';  // another time of issue under the same MAC
  struct Case {
    const char* name;
    std::string header;
    std::string uri;
    seconds at;
    V expected;
  } cases[] = {
      {"the right login", client.answer(challenge, "/", 1), "/", seconds(1), V::kGranted},
      {"a later request", client.answer(challenge, "/status", 5), "/status", seconds(2),
       V::kGranted},
      {"an earlier count, not yet seen", client.answer(challenge, "/videos", 3), "/videos",
       seconds(2), V::kGranted},
      {"a count replayed", client.answer(challenge, "/status", 5), "/status", seconds(3),
       V::kRefused},
      {"an escaped uri, as the request had it", client.answer(challenge, "/v/%2e%2e/x%5c", 6),
       "/v/%2e%2e/x%5c", seconds(2), V::kGranted},
      {"no header", "", "/", seconds(1), V::kNoCredentials},
      {"wrong password", wrong_password.answer(challenge, "/", 9), "/", seconds(1), V::kRefused},
      {"wrong user", wrong_user.answer(challenge, "/", 10), "/", seconds(1), V::kRefused},
      {"another uri than asked", client.answer(challenge, "/", 11), "/videos", seconds(1),
       V::kRefused},
      {"another method", client.answer(challenge, "/", 12, "POST"), "/", seconds(1), V::kRefused},
      {"the nonce expired", client.answer(challenge, "/", 13), "/", seconds(301), V::kStale},
      {"a nonce of another run",
       replaced(client.answer(challenge, "/", 14), nonce, other_run_nonce), "/", seconds(1),
       V::kRefused},
      {"a forged nonce", replaced(client.answer(challenge, "/", 15), nonce, forged), "/",
       seconds(1), V::kRefused},
      {"no cnonce", replaced(client.answer(challenge, "/", 16), "cnonce=\"f2a3\", ", ""), "/",
       seconds(1), V::kRefused},
      {"no qop", replaced(client.answer(challenge, "/", 17), "qop=auth, ", ""), "/", seconds(1),
       V::kRefused},
      {"no nc", replaced(client.answer(challenge, "/", 18), "nc=00000012, ", ""), "/", seconds(1),
       V::kRefused},
      {"a field given twice", client.answer(challenge, "/", 19) + ", nc=00000013", "/", seconds(1),
       V::kRefused},
      {"an overlong field",
       replaced(client.answer(challenge, "/", 20), "cnonce=\"f2a3\"",
                "cnonce=\"" + std::string(600, 'c') + "\""),
       "/", seconds(1), V::kRefused},
      {"another algorithm",
       replaced(client.answer(challenge, "/", 21), "algorithm=MD5", "algorithm=SHA-256"), "/",
       seconds(1), V::kRefused},
      {"another scheme", "Basic Y2FtOnBhc3Mgd29yZA==", "/", seconds(1), V::kRefused},
      {"an unclosed quote", "Digest username=\"cam", "/", seconds(1), V::kRefused},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(login.check(c.header, "GET", c.uri, account, start + c.at), c.expected) << c.name;
  }
  // Two browsers asking in the same second get nonces of their own, each with its count 1.
  const std::string first = login.challenge(account, false, start + seconds(5));
  const std::string second = login.challenge(account, false, start + seconds(5));
  EXPECT_NE(Client::field(first, "nonce"), Client::field(second, "nonce"));
  for (const std::string& c : {first, second}) {
    EXPECT_EQ(login.check(client.answer(c, "/", 1), "GET", "/", account, start + seconds(5)),
              V::kGranted);
  }
  // A stale answer gets a fresh nonce with stale=true: the browser asks no one again.
  EXPECT_NE(login.challenge(account, true, start + seconds(301)).find("stale=true"),
            std::string::npos);
  // No password set: nothing is granted.
  const DigestAccount no_password{"cam", account.realm, ""};
  EXPECT_EQ(
      login.check(client.answer(challenge, "/", 30), "GET", "/", no_password, start + seconds(1)),
      V::kRefused);
}

TEST(LoginThrottle, SlowsAnAddressAfterTenFailures) {
  LoginThrottle throttle;
  for (int i = 1; i <= LoginThrottle::kFreeFailures; ++i) {
    EXPECT_EQ(throttle.failed("10.0.0.9").count(), 0) << i;
  }
  EXPECT_EQ(throttle.failed("10.0.0.9"), std::chrono::milliseconds(1000));
  EXPECT_EQ(throttle.failed("10.0.0.8").count(), 0);  // another address
  throttle.succeeded("10.0.0.9");
  EXPECT_EQ(throttle.failed("10.0.0.9").count(), 0);
}

// The only names the live view serves, and the clean-up may delete.
TEST(VideoFileName, OnlyTheProgramsOwnNames) {
  const std::string good = "Talvex_Camera_2006-12-25_07-05-03_2006-12-25_07-05-33";
  struct Case {
    std::string name;
    bool taken;
  } cases[] = {
      {good + ".avi", true},
      {good + "_2.avi", true},
      {good + "_17.avi", true},
      {good + "_1.avi", false},
      {good + "_02.avi", false},
      {good + "_.avi", false},
      {good + ".AVI", false},
      {"talvex_camera_2006-12-25_07-05-03_2006-12-25_07-05-33.avi", false},
      {good + ".avi.", false},
      {good + ".avi ", false},
      {good + ".avi::$DATA", false},
      {good + ".avi/..", false},
      {"../" + good + ".avi", false},
      {"..\\" + good + ".avi", false},
      {"C:" + good + ".avi", false},
      {"TALVEX~1.AVI", false},
      {"Talvex_tmp.avi", false},
      {"Talvex_unrecovered_2006-12-25_07-05-03.avi", false},
      {"Talvex_Camera_2006-13-25_07-05-03_2006-12-25_07-05-33.avi", false},
      {"Talvex_Camera_2006-12-25_24-05-03_2006-12-25_07-05-33.avi", false},
      {"Talvex_Camera_2006-12-25_07-05-3_2006-12-25_07-05-33.avi", false},
      {"Talvex_Camera_+006-12-25_07-05-03_2006-12-25_07-05-33.avi", false},
      {std::string(good + ".avi").insert(20, 1, '\0'), false},
      {"", false},
  };
  for (const Case& c : cases) {
    CalendarTime start, end;
    EXPECT_EQ(parse_video_file_name(c.name, start, end), c.taken) << c.name;
  }
  CalendarTime start, end;
  ASSERT_TRUE(parse_video_file_name(good + "_3.avi", start, end));
  EXPECT_EQ(format_video_file_name(start, end), good + ".avi");
}

TEST(EventCommand, NameInQuotesAndPercentSigns) {
  const std::string video = "Talvex_Camera_2026-03-14_07-05-03_2026-03-14_07-05-33.avi";
  struct Case {
    const char* command;
    std::string line;
  } cases[] = {
      {"notify.exe %f", "notify.exe \"" + video + "\""},
      {"cmd /c copy %f \\\\nas\\cams\\", "cmd /c copy \"" + video + "\" \\\\nas\\cams\\"},
      {"curl -d \"100%% %f\" host", "curl -d \"100% \"" + video + "\"\" host"},
      {"%%f is %f", "%f is \"" + video + "\""},
      {"50% off %", "50% off %"},
      {"%F %x", "%F %x"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(event_command_line(c.command, video), c.line) << c.command;
}

}  // namespace
}  // namespace talvex
