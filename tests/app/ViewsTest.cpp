// The supporting views: the filter list's source, the bordered picture and
// the help page's links.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "app/AboutView.h"
#include "app/BorderedImageView.h"
#include "app/SelectPostProcessVC.h"
#include "platform/qt/Application.h"
#include "platform/qt/TableView.h"
#include "platform/qt/WebView.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace glowsnap::test {
namespace {

class FakeOwner : public SelectPostProcessOwner {
 public:
  explicit FakeOwner(std::set<std::string> names) : names_(std::move(names)) {}
  std::set<std::string> get_pp_names() const override { return names_; }
  void on_selected_pp(const std::string& name) override { chosen.push_back(name); }
  std::vector<std::string> chosen;

 private:
  std::set<std::string> names_;
};

TEST(SelectPostProcessVC, SortsTheCatalogueByCharacterCode) {
  FakeOwner owner({"HDR Classic", "HDR Color+", "Bloom", "HDR Night mode", "Art Contour HDR",
                   "Soft Edges HDR", "More Contrast", "More Colors"});
  SelectPostProcessVC picker(&owner);
  ASSERT_EQ(picker.list().size(), 1u);
  EXPECT_EQ(picker.list()[0].title, "Select filter");
  EXPECT_EQ(picker.list()[0].authors,
            (std::vector<std::string>{"Art Contour HDR", "Bloom", "HDR Classic", "HDR Color+",
                                      "HDR Night mode", "More Colors", "More Contrast",
                                      "Soft Edges HDR"}));
  TableView table;
  EXPECT_EQ(picker.numberOfSectionsInTableView(&table), 1);
  EXPECT_EQ(picker.numberOfRowsInSection(&table, 0), 8);
  EXPECT_EQ(picker.titleForHeaderInSection(&table, 0), "Select filter");
  EXPECT_FALSE(picker.sectionIndexTitlesForTableView(&table).has_value());
  EXPECT_EQ(picker.sectionForSectionIndexTitle(&table, "A", 0), 0);
}

TEST(SelectPostProcessVC, UpperCaseSortsBeforeLowerCaseAndNewIsRed) {
  FakeOwner owner({"zebra", "Zebra New!", "apple new!", "Apple"});
  SelectPostProcessVC picker(&owner);
  EXPECT_EQ(picker.list()[0].authors,
            (std::vector<std::string>{"Apple", "Zebra New!", "apple new!", "zebra"}));
  EXPECT_LT(str_cmp("Zebra", "apple", nullptr), 0);
  EXPECT_EQ(str_cmp("a", "a", nullptr), 0);

  TableView table;
  picker.setTable_view(&table);
  table.setDataSource(&picker);
  table.setDelegate(&picker);
  table.reloadData();
  EXPECT_EQ(table.cellForRowAtIndexPath({0, 1})->text(), "Zebra New!");
  EXPECT_EQ(table.cellForRowAtIndexPath({0, 1})->textColor(), QColor(Qt::red));
  EXPECT_EQ(table.cellForRowAtIndexPath({0, 2})->textColor(),
            QColor(Qt::black));  // "new!" is not "New!"
  EXPECT_EQ(table.cellForRowAtIndexPath({0, 0})->reuseIdentifier(), "AuthorCell");
}

TEST(SelectPostProcessVC, ATapReportsTheNameOnceAndMarksNoRow) {
  FakeOwner owner({"Bloom", "HDR Classic", "More Colors"});
  SelectPostProcessVC picker(&owner);
  TableView table;
  picker.setTable_view(&table);
  table.setDataSource(&picker);
  table.setDelegate(&picker);
  table.reloadData();
  table.tapRowAtIndexPath({0, 1});
  EXPECT_EQ(owner.chosen, std::vector<std::string>{"HDR Classic"});
  EXPECT_FALSE(table.indexPathForSelectedRow().has_value());
}

TEST(SelectPostProcessVC, EqualNamesGiveOneRow) {
  FakeOwner owner({"Bloom", "Bloom"});
  SelectPostProcessVC picker(&owner);
  EXPECT_EQ(picker.list()[0].authors.size(), 1u);
}

TEST(BorderedImageView, PictureIsTheLargestCentredRectangleOfTheImagesAspect) {
  const Rect r(0, 0, 300, 300);
  const Rect wide = BorderedImageView::pictureRect(Size{400, 300}, r);
  EXPECT_FLOAT_EQ(wide.origin.x, 0.0f);
  EXPECT_FLOAT_EQ(wide.origin.y, 37.5f);
  EXPECT_FLOAT_EQ(wide.size.width, 300.0f);
  EXPECT_FLOAT_EQ(wide.size.height, 225.0f);
  const Rect tall = BorderedImageView::pictureRect(Size{300, 400}, r);
  EXPECT_FLOAT_EQ(tall.origin.x, 37.5f);
  EXPECT_FLOAT_EQ(tall.origin.y, 0.0f);
  EXPECT_FLOAT_EQ(tall.size.width, 225.0f);
  EXPECT_FLOAT_EQ(tall.size.height, 300.0f);
  const Rect square = BorderedImageView::pictureRect(Size{50, 50}, Rect(10, 20, 300, 300));
  EXPECT_FLOAT_EQ(square.origin.x, 10.0f);
  EXPECT_FLOAT_EQ(square.origin.y, 20.0f);
  EXPECT_FLOAT_EQ(square.size.width, 300.0f);
}

TEST(BorderedImageView, DrawsThePictureInsideADarkenedRoundedEdge) {
  BorderedImageView view;
  view.resize(300, 300);
  view.setImage(solidImage(400, 300, {255, 255, 255, 255}));
  QImage canvas(300, 300, QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  {
    QPainter p(&canvas);
    view.drawRect(p, Rect(0, 0, 300, 300));
  }
  // Outside the picture rectangle (y < 37.5) nothing is drawn.
  EXPECT_EQ(qAlpha(canvas.pixel(150, 20)), 0);
  // The middle is the picture itself; the edge inside it is darkened.
  EXPECT_EQ(canvas.pixel(150, 150), qRgb(255, 255, 255));
  const QRgb edge = canvas.pixel(150, 39);
  EXPECT_LT(qRed(edge), 200);
  EXPECT_GT(qRed(edge), 60);
  // Rounded corners: the very corner of the picture stays empty.
  EXPECT_EQ(qAlpha(canvas.pixel(0, 38)), 0);
}

TEST(BorderedImageView, KeepsTheSameImageAndSurvivesTinySizes) {
  BorderedImageView view;
  const ImageRef img = solidImage(8, 6, {255, 9, 9, 9});
  view.setImage(img);
  view.setImage(img);
  EXPECT_EQ(view.image(), img);
  QImage canvas(6, 4, QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  QPainter p(&canvas);
  view.drawRect(p, Rect(0, 0, 6, 4));
  view.drawRect(p, Rect(0, 0, 0, 0));
  view.setImage(nullptr);
  view.drawRect(p, Rect(0, 0, 6, 4));
}

class HelpPage : public ::testing::Test {
 protected:
  HelpPage()
      : resources_("GLOWSNAP_RESOURCES_DIR", std::string(GLOWSNAP_SOURCE_DIR) + "/resources") {
    Application::setURLOpener([this](const QUrl& url) {
      opened.push_back(url);
      return true;
    });
  }
  ~HelpPage() override { Application::setURLOpener(nullptr); }
  ScopedEnv resources_;
  std::vector<QUrl> opened;
};

TEST_F(HelpPage, LoadsTheHelpDocumentWithTheResourcesAsBase) {
  AboutView about("Glowsnap", "Version 1.6.0", 1);
  EXPECT_TRUE(about.isHidden());
  EXPECT_NE(about.webView()->html().indexOf("Glowsnap"), -1);
  EXPECT_TRUE(about.webView()->url().isLocalFile());
  EXPECT_TRUE(about.webView()->url().toLocalFile().endsWith("/resources/"));
  EXPECT_TRUE(opened.empty());
}

TEST_F(HelpPage, OnlyHttpLinksLeaveAndOnlyForTheBrowser) {
  AboutView about("Glowsnap", "Version 1.6.0", 1);
  const QString before = about.webView()->html();
  EXPECT_FALSE(about.webView()->clickLink(QUrl("http://example.org/hdr")));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl("http://example.org/hdr"));
  for (const char* link : {"https://example.org/", "mailto:someone@example.org", "Glowsnap.html",
                           "other.html", "ftp://example.org/", "file:///etc/passwd"}) {
    EXPECT_FALSE(about.webView()->clickLink(QUrl(link))) << link;
  }
  EXPECT_EQ(opened.size(), 1u);
  EXPECT_EQ(about.webView()->html(), before);
  // Loads that are not a clicked link are allowed.
  EXPECT_TRUE(
      about.shouldStartLoadWithRequest(about.webView(), QUrl("file:///x"), WebViewDelegate::Other));
  EXPECT_TRUE(about.shouldStartLoadWithRequest(about.webView(), QUrl("https://x"),
                                               WebViewDelegate::Reload));
}

TEST_F(HelpPage, TheShippedPageLinksOnlyWhereThePolicyLetsItGo) {
  AboutView about("Glowsnap", "Version 1.6.0", 1);
  const QString html = about.webView()->html();
  qsizetype at = 0;
  int links = 0;
  while ((at = html.indexOf("href=\"", at)) != -1) {
    at += 6;
    const QString target = html.mid(at, html.indexOf('"', at) - at);
    EXPECT_TRUE(target.startsWith("http://")) << target.toStdString();
    ++links;
  }
  EXPECT_GT(links, 0);
}

}  // namespace
}  // namespace glowsnap::test
