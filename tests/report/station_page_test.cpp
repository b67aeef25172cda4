// The station's live page in headless Chromium, served by the real server
// from a snapshot the test changes: every reader is shown, a reader that
// failed or lost its R/W stands out by more than colour, text from plans and
// logs is shown as text, and the page follows the station without a reload.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "report/http_server.h"
#include "report/station_site.h"
#include "tests/report/station_samples.h"
#include "tests/support/browser.h"
#include "tests/support/page_dom.h"
#include "tests/support/scratch_dir.h"

namespace {

ReaderSnapshot Reader(const std::string &name, const std::string &state, long long attempts) {
  ReaderSnapshot r = SampleReader(name, "kestrow", "/dev/ttyUSB-" + name, state, attempts,
                                  attempts - attempts / 50);
  r.runs = attempts / 100;
  return r;
}

StationSnapshot Station(long long attempts) {
  StationSnapshot s;
  s.name = "page-test";
  s.readers.push_back(Reader("unit07", "polling", attempts));
  s.readers.push_back(Reader("lab1", "failed", 100));
  s.readers.back().cause = "no connection: no ACK";
  s.readers.push_back(Reader("evil<b>bold</b>\x01", "lost", 7));
  s.readers.back().failures = {{"port error", 7}};
  return s;
}

class StationPage : public ::testing::Test {
 protected:
  void SetUp() override {
    chromium_ = FindChromium();
    if (chromium_.empty()) {
      GTEST_SKIP() << "chromium is not installed (scripts/deps.sh installs it as root): the "
                      "live page was not checked in a browser";
    }
    holder_.Publish(std::make_shared<const StationSnapshot>(Station(381)));
    std::string error;
    ASSERT_TRUE(server_.Listen({"127.0.0.1", 0}, &error)) << error;
    server_.Start();
  }

  // The page as the browser has built it a few (virtual) seconds after
  // loading, its script run and status.json fetched.
  std::string Dom() {
    RunResult r = RunChromium(chromium_, dir_,
                              {"--virtual-time-budget=4000", "--dump-dom",
                               "http://127.0.0.1:" + std::to_string(server_.Port()) + "/"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }

  std::string chromium_;
  ScratchDir dir_;
  SnapshotHolder holder_;
  StationSite site_{&holder_};
  HttpServer server_{[this](std::string_view path) { return site_.Find(path); }};
};

TEST_F(StationPage, ShowsEveryReaderAndFollowsTheStation) {
  std::string dom = Dom();
  std::string unit = PageRow(dom, "unit07");
  ASSERT_FALSE(unit.empty()) << dom;
  EXPECT_EQ(PageCell(unit, "attempts"), "381");
  EXPECT_EQ(PageCell(unit, "state"), "polling");
  // 374 of 381, its Wilson interval computed in Python.
  EXPECT_EQ(PageCell(unit, "rate"), "98.16 % [96.26, 99.11]");
  EXPECT_EQ(unit.find("alert"), std::string::npos);

  // A failed reader and one without its R/W are marked by a class that
  // adds a sign and a border, not by colour alone; causes are shown.
  std::string failed = PageRow(dom, "lab1");
  EXPECT_NE(failed.find("class=\"alert\""), std::string::npos) << failed;
  EXPECT_EQ(PageCell(failed, "state"), "failed (no connection: no ACK)");
  std::string lost = PageRow(dom, "evil&lt;b&gt;bold&lt;/b&gt;\\x01");
  ASSERT_FALSE(lost.empty()) << dom;
  EXPECT_NE(lost.find("class=\"alert\""), std::string::npos) << lost;
  EXPECT_EQ(PageCell(lost, "failures"), "port error 7");
  EXPECT_EQ(dom.find("<b>bold"), std::string::npos);                // shown, not obeyed
  EXPECT_NE(dom.find(">2 running, 1 failed<"), std::string::npos);  // lost is not ended
  EXPECT_NE(dom.find("<h1 id=\"station\">rwstation page-test</h1>"), std::string::npos);

  StationSnapshot later = Station(500);
  later.readers[0].state = "reconnecting";
  holder_.Publish(std::make_shared<const StationSnapshot>(later));
  dom = Dom();
  unit = PageRow(dom, "unit07");
  EXPECT_EQ(PageCell(unit, "attempts"), "500");
  EXPECT_EQ(PageCell(unit, "state"), "reconnecting");
}

TEST_F(StationPage, SaysSoWhenTheFiguresCannotBeFetched) {
  // A server that has the page but no figures.
  HttpServer pageOnly(
      [this](std::string_view path) { return path == "/" ? site_.Find(path) : std::nullopt; });
  std::string error;
  ASSERT_TRUE(pageOnly.Listen({"127.0.0.1", 0}, &error)) << error;
  pageOnly.Start();
  RunResult r = RunChromium(chromium_, dir_,
                            {"--virtual-time-budget=4000", "--dump-dom",
                             "http://127.0.0.1:" + std::to_string(pageOnly.Port()) + "/"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("class=\"stale\">\u26A0 no answer from the station (HTTP 404)"),
            std::string::npos)
      << r.out;
}

}  // namespace
