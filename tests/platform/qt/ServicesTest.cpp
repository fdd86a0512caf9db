// The platform services: the photo album folder, the clipboard from a
// worker thread and the web view's link handling.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <thread>

#include "platform/graphics/ImageIO.h"
#include "platform/qt/Pasteboard.h"
#include "platform/qt/PhotoAlbum.h"
#include "platform/qt/RunLoopDriver.h"
#include "platform/qt/WebView.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace glowsnap {
namespace {

TEST(PhotoAlbum, EverySaveIsANewWholeJpegInTheGlowsnapFolder) {
  test::TempDir dir;
  test::ScopedEnv pictures("GLOWSNAP_PICTURES_DIR", dir.path().string());
  const ImageRef img = test::cornersImage(30, 20);
  std::set<std::filesystem::path> names;
  for (int i = 0; i < 3; ++i) {
    Result<std::filesystem::path> r = PhotoAlbum::save(*img);
    ASSERT_TRUE(r.ok()) << r.error().description;
    EXPECT_EQ(r.value().parent_path(), dir.path() / "Glowsnap");
    names.insert(r.value());
    Result<ImageRef> back = imageio::decodeFile(r.value());
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value()->width(), 30);
  }
  EXPECT_EQ(names.size(), 3u);  // saves within one second still get their own names
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "Glowsnap")) {
    EXPECT_EQ(e.path().extension(), ".jpg") << e.path();  // no temporary left behind
    ++entries;
  }
  EXPECT_EQ(entries, 3);
}

TEST(PhotoAlbum, AFolderThatCannotBeMadeIsAnError) {
  test::TempDir dir;
  {
    std::FILE* f = std::fopen((dir.path() / "file").c_str(), "wb");
    std::fclose(f);
  }
  test::ScopedEnv pictures("GLOWSNAP_PICTURES_DIR", (dir.path() / "file").string());
  Result<std::filesystem::path> r = PhotoAlbum::save(*test::cornersImage(4, 4));
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.error().description.find("Glowsnap"), std::string::npos) << r.error().description;
}

TEST(Pasteboard, AnImageSetOnAWorkerReachesTheClipboardOnTheMainThread) {
  RunLoopDriver driver;
  QGuiApplication::clipboard()->clear();
  std::thread([] {
    Pasteboard::general().setImage(test::cornersImage(20, 10, Image::Right));
  }).join();
  QElapsedTimer t;
  t.start();
  while (Pasteboard::general().image().isNull() && t.elapsed() < 10000) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  }
  const QImage got = Pasteboard::general().image();
  ASSERT_FALSE(got.isNull());
  EXPECT_EQ(got.width(), 10);  // upright by its tag
  EXPECT_EQ(got.height(), 20);
}

class Policy : public WebViewDelegate {
 public:
  bool shouldStartLoadWithRequest(WebView*, const QUrl& url, NavigationType type) override {
    asked.emplace_back(url, type);
    return allow;
  }
  bool allow = false;
  std::vector<std::pair<QUrl, NavigationType>> asked;
};

TEST(WebView, LinksAreResolvedAgainstThePageAndNeedTheDelegatesConsent) {
  test::TempDir dir;
  {
    std::FILE* f = std::fopen((dir.path() / "two.html").c_str(), "wb");
    std::fputs("<html><body>second page</body></html>", f);
    std::fclose(f);
  }
  WebView wv;
  Policy p;
  wv.setDelegate(&p);
  p.allow = true;
  const QUrl base = QUrl::fromLocalFile(QString::fromStdString(dir.path().string()) + "/");
  wv.loadHTMLString("<a href=\"two.html\">next</a>", base);
  ASSERT_EQ(p.asked.size(), 1u);
  EXPECT_EQ(p.asked[0].second, WebViewDelegate::Other);

  p.allow = false;
  EXPECT_FALSE(wv.clickLink(QUrl("two.html")));
  EXPECT_EQ(p.asked.back().first, base.resolved(QUrl("two.html")));
  EXPECT_EQ(p.asked.back().second, WebViewDelegate::LinkClicked);
  EXPECT_EQ(wv.url(), base);

  p.allow = true;
  EXPECT_TRUE(wv.clickLink(QUrl("two.html")));
  if (!WebView::usesWebEngine()) {
    EXPECT_NE(wv.html().indexOf("second page"), -1);
    EXPECT_EQ(wv.url(), base.resolved(QUrl("two.html")));
  }
}

}  // namespace
}  // namespace glowsnap
