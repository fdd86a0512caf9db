// The screen states: every control and every key tried in every state,
// through real Qt events (mouse clicks on the widgets, key presses). A
// control may act only on its own screen, at rest, with nothing to wait
// for; everywhere else it must change nothing.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <cctype>

#include "app/AboutView.h"
#include "engine/PostProcess.h"
#include "platform/qt/ActionSheet.h"
#include "platform/qt/Animation.h"
#include "platform/qt/SegmentedControl.h"
#include "platform/qt/TableView.h"
#include "platform/qt/View.h"
#include "support/TestImages.h"
#include "tests/app/AppTestSupport.h"

namespace glowsnap::test {
namespace {

using S = GlowsnapViewController::ScreenState;

// Where the controller is put before a control is tried: a screen state,
// and on a screen at rest, possibly something the user waits for.
enum class Wait { Nothing, Run, Photo, Save };
struct Where {
  S state;
  Wait wait = Wait::Nothing;
};

std::string name(Where w) {
  std::string n = GlowsnapViewController::screenStateName(w.state);
  n += w.wait == Wait::Run     ? ", running"
       : w.wait == Wait::Photo ? ", opening a photo"
       : w.wait == Wait::Save  ? ", saving"
                               : "";
  return n;
}

// The screen at rest whose controls may act there, if any.
std::optional<S> activeScreen(Where w) {
  if (!GlowsnapViewController::isResting(w.state) || w.wait != Wait::Nothing) return std::nullopt;
  return w.state;
}

// What the user could notice of a control's effect.
struct Snapshot {
  std::string state;
  std::size_t alerts = 0, sheets = 0;
  bool picker = false, busy = false, original = false;
  std::string filter;
  int segment = -1;
  std::optional<IndexPath> cursor;
  bool operator==(const Snapshot&) const = default;
};

class States : public ControllerTest, public ::testing::WithParamInterface<Where> {
 protected:
  ~States() override {
    Animation::setEnabled(false);
    if (vc_ && vc_->isViewLoaded()) View::removeFromSuperview(vc_->view());
  }

  // A fresh controller in the state w, its view shown in a window as in
  // the application.
  GlowsnapViewController& enter(Where w) {
    Animation::setEnabled(false);
    AlertView::closeAll();
    ActionSheet::closeAll();
    if (vc_ && vc_->isViewLoaded()) View::removeFromSuperview(vc_->view());
    vc_.reset();
    settings_->setBool(true, "do_not_show_info");
    GlowsnapViewController& vc = load();
    host_.resize(320, 480);
    View::addSubview(&host_, vc.view());
    host_.show();
    pick(photoLikeImage(60, 40));
    choose("More Contrast");
    EXPECT_EQ(vc.screenState(), S::Main);
    const auto animated = [&](auto&& move) {
      Animation::setEnabled(true);
      move();
    };
    switch (w.state) {
      case S::Main:
        break;
      case S::FilterList:
        vc.on_btn_select_pp();
        break;
      case S::Options:
        vc.on_btn_options();
        break;
      case S::Result:
        runToEnd();
        break;
      case S::Help:
        vc.on_btn_help();
        break;
      // Animated moves last until Qt's loop has run them: a click does not.
      case S::ToFilterList:
        animated([&] { vc.on_btn_select_pp(); });
        break;
      case S::FromFilterList:
        vc.on_btn_select_pp();
        animated([&] { vc.on_btn_select_pp_back(); });
        break;
      case S::ToOptions:
        animated([&] { vc.on_btn_options(); });
        break;
      case S::FromOptions:
        vc.on_btn_options();
        animated([&] { vc.on_btn_back_from_options(); });
        break;
      case S::ToResult:
        animated([&] { vc.on_btn_show_image(); });
        break;
      case S::FromResult:
        vc.on_btn_show_image();
        animated([&] { vc.on_btn_back_from_result(); });
        break;
      case S::ToHelp:
        animated([&] { vc.on_btn_help(); });
        break;
      case S::FromHelp:
        vc.on_btn_help();
        animated([&] { vc.go_to_screen(S::Main); });
        break;
    }
    // What the user waits for ends only when Qt's loop hands it over.
    switch (w.wait) {
      case Wait::Nothing:
        break;
      case Wait::Run:
        vc.on_btn_do_pp();
        EXPECT_TRUE(vc.isRunInProgress());
        break;
      case Wait::Photo:
        vc.didFinishPickingImage(nullptr, photoLikeImage(50, 50), {});
        EXPECT_TRUE(vc.isLoadingPhoto());
        break;
      case Wait::Save:
        vc.write_to_saved_photos();
        EXPECT_TRUE(vc.isSaving());
        break;
    }
    EXPECT_EQ(vc.screenState(), w.state);
    return vc;
  }

  Snapshot snapshot() const {
    Snapshot s;
    s.state = GlowsnapViewController::screenStateName(vc_->screenState());
    s.alerts = AlertView::visibleAlerts().size();
    s.sheets = ActionSheet::visibleSheets().size();
    s.picker = vc_->picker() != nullptr;
    s.busy = vc_->isBusy();
    s.original = vc_->isShowingOriginal();
    s.filter = vc_->current_pp_name();
    s.segment = vc_->outlets().m_options_sc->selectedSegmentIndex();
    s.cursor = vc_->outlets().m_tv_select_pp->cursorIndexPath();
    return s;
  }

  // A click where a mouse would land: on whatever takes mouse events at
  // that point of the window.
  void clickAsAMouse(QWidget* target, QPoint at) {
    const QPoint p = target->mapTo(&host_, at);
    QWidget* w = host_.childAt(p);
    if (!w) w = &host_;
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->mapFrom(&host_, p));
  }

  QWidget host_;
};

// A control: the widget a click goes to, where on it, and its screen.
struct Control {
  QWidget* widget;
  QPoint at;
  S screen;
  std::string label;
};

std::vector<Control> controlsOf(GlowsnapViewController& vc) {
  std::vector<Control> out;
  QWidget* root = vc.view();
  const auto button = [&](const char* objectName, S screen) {
    auto* b = root->findChild<QAbstractButton*>(objectName);
    EXPECT_NE(b, nullptr) << objectName;
    if (b) out.push_back({b, b->rect().center(), screen, objectName});
  };
  button("btn_help", S::Main);
  button("btn_options", S::Main);
  button("btn_take_photo", S::Main);
  button("btn_import_from_library", S::Main);
  button("btn_select_pp", S::Main);
  button("btn_undo", S::Main);
  button("btn_show_image", S::Main);
  button("btn_do_pp", S::Main);
  button("btn_select_pp_back", S::FilterList);
  button("btn_back_from_options", S::Options);
  button("btn_back_from_result", S::Result);
  button("m_btn_set_as_current", S::Result);
  button("btn_save_result", S::Result);
  auto* back = vc.aboutView()->findChild<QAbstractButton*>("btn_back");
  out.push_back({back, back->rect().center(), S::Help, "help page Back"});
  TableView* table = vc.outlets().m_tv_select_pp;
  // Item 0 is the section's title, item 1 the first row ("Art Contour HDR").
  out.push_back({table->viewport(), table->visualItemRect(table->item(1)).center(), S::FilterList,
                 "filter list row"});
  auto* segment = vc.outlets().m_options_sc->findChildren<QToolButton*>().value(0);
  out.push_back({segment, segment->rect().center(), S::Options, "resolution 320"});
  return out;
}

TEST_P(States, EveryControlActsOnlyOnItsOwnScreenAtRest) {
  const Where where = GetParam();
  const std::optional<S> active = activeScreen(where);
  const std::size_t count = controlsOf(enter(where)).size();
  for (std::size_t i = 0; i < count; ++i) {
    GlowsnapViewController& vc = enter(where);
    const Control c = controlsOf(vc)[i];
    const bool acts = active && c.screen == *active;
    SCOPED_TRACE(name(where) + ", " + c.label);
    // What a user can reach: on a screen at rest exactly its own controls
    // are enabled and shown; during a move the mouse reaches nothing.
    if (vc.isMoving()) {
      EXPECT_TRUE(vc.view()->testAttribute(Qt::WA_TransparentForMouseEvents));
    } else {
      EXPECT_FALSE(vc.view()->testAttribute(Qt::WA_TransparentForMouseEvents));
      EXPECT_EQ(c.widget->isEnabled(), acts);
      const bool ownScreenShown = c.screen == vc.screenState();
      EXPECT_EQ(c.widget->isVisible(), ownScreenShown);
    }
    const Snapshot before = snapshot();
    if (vc.isMoving()) {
      clickAsAMouse(c.widget, c.at);
    } else {
      // Straight to the widget, shown or not: even then only its screen acts.
      QTest::mouseClick(c.widget, Qt::LeftButton, Qt::NoModifier, c.at);
    }
    const Snapshot after = snapshot();
    if (acts) {
      EXPECT_FALSE(after == before) << "the click did nothing";
    } else {
      EXPECT_TRUE(after == before) << "the click acted: state " << after.state << ", alerts "
                                   << after.alerts << ", sheets " << after.sheets;
    }
  }
}

// The keys that act on each screen at rest; none acts while the user waits
// or a move runs.
std::set<std::string> keysActingIn(Where w) {
  switch (activeScreen(w).value_or(S::ToHelp)) {
    case S::Main:
      return {"Return", "F1", "Ctrl+O", "Ctrl+Z"};
    case S::FilterList:
      return {"Return", "Escape", "F1", "Ctrl+O", "Down"};
    case S::Options:
      return {"Escape", "F1", "Ctrl+O"};
    case S::Result:
      return {"Escape", "F1", "Ctrl+O", "Ctrl+S", "Ctrl+C", "B"};
    case S::Help:
      return {"Escape", "Ctrl+O"};
    default:
      return {};
  }
}

TEST_P(States, EveryKeyActsOnlyWhereItBelongs) {
  const Where where = GetParam();
  const std::set<std::string> acting = keysActingIn(where);
  struct Key {
    const char* label;
    Qt::Key key;
    Qt::KeyboardModifiers mods;
  };
  const Key keys[] = {
      {"Return", Qt::Key_Return, Qt::NoModifier}, {"Escape", Qt::Key_Escape, Qt::NoModifier},
      {"F1", Qt::Key_F1, Qt::NoModifier},         {"Ctrl+O", Qt::Key_O, Qt::ControlModifier},
      {"Ctrl+S", Qt::Key_S, Qt::ControlModifier}, {"Ctrl+C", Qt::Key_C, Qt::ControlModifier},
      {"Ctrl+Z", Qt::Key_Z, Qt::ControlModifier}, {"B", Qt::Key_B, Qt::NoModifier},
      {"Down", Qt::Key_Down, Qt::NoModifier}};
  for (const Key& k : keys) {
    GlowsnapViewController& vc = enter(where);
    SCOPED_TRACE(name(where) + ", " + k.label);
    const Snapshot before = snapshot();
    QTest::keyPress(vc.view(), k.key, k.mods);
    const Snapshot after = snapshot();
    EXPECT_EQ(!(after == before), acting.count(k.label) == 1) << "now " << after.state;
    QTest::keyRelease(vc.view(), k.key, k.mods);
  }
}

std::vector<Where> everywhere() {
  std::vector<Where> out;
  for (int i = 0; i < GlowsnapViewController::kScreenStateCount; ++i)
    out.push_back({static_cast<S>(i)});
  out.push_back({S::Main, Wait::Run});
  out.push_back({S::Main, Wait::Photo});
  out.push_back({S::Result, Wait::Save});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Everywhere, States, ::testing::ValuesIn(everywhere()),
                         [](const ::testing::TestParamInfo<Where>& info) {
                           std::string n = name(info.param);
                           std::erase_if(n, [](char c) { return !std::isalnum(c); });
                           return n;
                         });

TEST(ScreenStates, EveryStateHasItsName) {
  std::set<std::string> names;
  for (int i = 0; i < GlowsnapViewController::kScreenStateCount; ++i)
    names.insert(GlowsnapViewController::screenStateName(static_cast<S>(i)));
  EXPECT_EQ(names.size(), static_cast<std::size_t>(GlowsnapViewController::kScreenStateCount));
  EXPECT_STREQ(GlowsnapViewController::screenStateName(S::Main), "main");
  EXPECT_STREQ(GlowsnapViewController::screenStateName(S::FromHelp), "from help");
}

}  // namespace
}  // namespace glowsnap::test
