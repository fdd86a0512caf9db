// Keeping a result: the save sheet, the album folder and the clipboard.
#include <gtest/gtest.h>

#include <QImage>

#include "platform/graphics/ImageIO.h"
#include "platform/qt/ActionSheet.h"
#include "platform/qt/Pasteboard.h"
#include "platform/qt/PhotoAlbum.h"
#include "platform/qt/View.h"
#include "support/TestImages.h"
#include "tests/app/AppTestSupport.h"

namespace glowsnap::test {
namespace {

using Saving = ControllerTest;

std::vector<std::filesystem::path> albumFiles(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(Saving, SaveIsOfferedOnlyWithAnImageOnTheResultScreen) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  vc.on_btn_save_result();
  EXPECT_TRUE(ActionSheet::visibleSheets().empty());
  EXPECT_EQ(vc.sheet_save_options(), nullptr);

  pick(cornersImage(80, 60));
  vc.on_btn_show_image();
  vc.on_btn_save_result();
  ASSERT_EQ(ActionSheet::visibleSheets().size(), 1u);
  const auto sheet = ActionSheet::visibleSheets().front();
  EXPECT_EQ(sheet, vc.sheet_save_options());
  EXPECT_EQ(sheet->title(), "Where to save image?");
  EXPECT_EQ(sheet->buttonTitles(), (std::vector<std::string>{"Saved Photos Album", "Upload",
                                                             "Copy To Clipboard", "Cancel"}));
  EXPECT_EQ(sheet->cancelButtonIndex(), 3);
  EXPECT_EQ(sheet->destructiveButtonIndex(), -1);
  sheet->dismissWithClickedButtonIndex(3);
  EXPECT_TRUE(ActionSheet::visibleSheets().empty());
  EXPECT_TRUE(AlertView::visibleAlerts().empty());
  EXPECT_EQ(View::superview(vc.outlets().m_waiting_view), nullptr);
}

TEST_F(Saving, TheAlbumGetsANewJpegEveryTime) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  pick(cornersImage(120, 90));
  vc.on_btn_show_image();
  const ImageRef shown = vc.get_image_to_save();
  ASSERT_NE(shown, nullptr);

  for (int i = 1; i <= 2; ++i) {
    vc.on_btn_save_result();
    ActionSheet::visibleSheets().front()->dismissWithClickedButtonIndex(0);
    EXPECT_EQ(View::superview(vc.outlets().m_waiting_view), vc.view());
    ASSERT_TRUE(spinUntil([&] { return !AlertView::visibleAlerts().empty(); }));
    EXPECT_EQ(alertMessages(), std::vector<std::string>{"Image saved to your photo albums"});
    EXPECT_EQ(AlertView::visibleAlerts().front()->delegate(), nullptr);
    EXPECT_EQ(View::superview(vc.outlets().m_waiting_view), nullptr);
    clearAlerts();
    EXPECT_EQ(albumFiles(dir_.path() / "pictures" / "Glowsnap").size(),
              static_cast<std::size_t>(i));
  }
  const auto files = albumFiles(dir_.path() / "pictures" / "Glowsnap");
  for (const auto& f : files) {
    EXPECT_EQ(f.extension(), ".jpg");
    Result<ImageRef> back = imageio::decodeFile(f);
    ASSERT_TRUE(back.ok()) << f;
    EXPECT_EQ(back.value()->width(), shown->width());
    EXPECT_EQ(back.value()->height(), shown->height());
  }
  EXPECT_NE(files[0], files[1]);
}

TEST_F(Saving, AnAlbumThatCannotBeWrittenIsReportedNotPraised) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  // A file where the album folder should be.
  std::filesystem::create_directories(dir_.path() / "pictures");
  {
    std::FILE* f = std::fopen((dir_.path() / "pictures" / "Glowsnap").c_str(), "wb");
    std::fclose(f);
  }
  pick(cornersImage(40, 30));
  vc.on_btn_show_image();
  vc.write_to_saved_photos();
  ASSERT_TRUE(spinUntil([&] { return !AlertView::visibleAlerts().empty(); }));
  const std::string message = AlertView::visibleAlerts().front()->message();
  EXPECT_NE(message.find("could not be saved"), std::string::npos) << message;
  EXPECT_EQ(View::superview(vc.outlets().m_waiting_view), nullptr);
}

TEST_F(Saving, CopyToClipboardPutsTheShownImageThere) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  pick(cornersImage(64, 48));
  vc.on_btn_show_image();
  vc.on_btn_save_result();
  ActionSheet::visibleSheets().front()->dismissWithClickedButtonIndex(2);
  ASSERT_TRUE(spinUntil([&] { return !AlertView::visibleAlerts().empty(); }));
  const auto alert = AlertView::visibleAlerts().front();
  EXPECT_EQ(alert->message(), "Image has been copied to clipboard");
  EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"Ok"});
  EXPECT_EQ(alert->cancelButtonIndex(), -1);
  EXPECT_EQ(View::superview(vc.outlets().m_waiting_view), nullptr);

  const QImage copied = Pasteboard::general().image();
  ASSERT_FALSE(copied.isNull());
  EXPECT_EQ(copied.width(), 64);
  EXPECT_EQ(copied.height(), 48);
  EXPECT_EQ(copied.pixel(2, 2), qRgb(255, 0, 0));        // top left red
  EXPECT_EQ(copied.pixel(61, 45), qRgb(255, 255, 255));  // bottom right white
}

}  // namespace
}  // namespace glowsnap::test
