// ActionSheet: a choice of actions that rises from the bottom of a view.
// Button indexes: the destructive button (if any), the other buttons in
// order, then the cancel button. A tap calls the delegate and closes the
// sheet; Escape counts as the cancel button.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/Panel.h"

namespace glowsnap {

class ActionSheet;

class ActionSheetDelegate {
 public:
  virtual ~ActionSheetDelegate() = default;
  virtual void clickedButtonAtIndex(ActionSheet* actionSheet, int buttonIndex) {
    (void)actionSheet;
    (void)buttonIndex;
  }
};

class ActionSheet : public PanelPresenter<ActionSheet, ActionSheetDelegate> {
 public:
  static std::shared_ptr<ActionSheet> create(const std::string& title,
                                             ActionSheetDelegate* delegate,
                                             const std::string& cancelButtonTitle,
                                             const std::string& destructiveButtonTitle,
                                             const std::vector<std::string>& otherButtonTitles);

  void showInView(QWidget* view);
  void dismissWithClickedButtonIndex(int buttonIndex);

  const std::string& title() const { return title_; }
  const std::vector<std::string>& buttonTitles() const { return buttons_; }
  int cancelButtonIndex() const { return cancelIndex_; }
  int destructiveButtonIndex() const { return destructiveIndex_; }

  static std::vector<std::shared_ptr<ActionSheet>> visibleSheets() { return visible(); }

 private:
  ActionSheet() = default;

  std::string title_;
  std::vector<std::string> buttons_;
  int cancelIndex_ = -1;
  int destructiveIndex_ = -1;
};

}  // namespace glowsnap
