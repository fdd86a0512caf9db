// SelectPostProcessVC: feeds the filter list. It shows every display name
// its owner offers, sorted by character code, in one section titled
// "Select filter"; names containing "New!" are red, the owner's current
// filter has a check mark. A tapped name goes back to the owner, and no row
// stays marked. The list is fixed at construction.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/qt/TableView.h"

namespace glowsnap {

// What the picker needs of its owner (the main controller).
class SelectPostProcessOwner {
 public:
  virtual ~SelectPostProcessOwner() = default;
  virtual std::set<std::string> get_pp_names() const = 0;
  virtual void on_selected_pp(const std::string& name) = 0;
  // The display name of the filter in use now (none: no check mark).
  virtual std::string current_pp_name() const { return {}; }
};

// The platform's plain comparison: case-sensitive, by character code.
int str_cmp(const std::string& a, const std::string& b, void* context);

class SelectPostProcessVC : public TableViewDataSource, public TableViewDelegate {
 public:
  struct Section {
    std::string title;                 // "Title"
    std::vector<std::string> authors;  // "Authors": the rows in display order
  };

  // init:
  explicit SelectPostProcessVC(SelectPostProcessOwner* owner);
  ~SelectPostProcessVC() override;

  TableView* table_view() const { return m_table_view; }
  void setTable_view(TableView* tableView);

  const std::vector<Section>& list() const { return m_list; }
  // Where name stands in the list.
  std::optional<IndexPath> indexPathForName(const std::string& name) const;

  int numberOfSectionsInTableView(TableView* tableView) override;
  int numberOfRowsInSection(TableView* tableView, int section) override;
  std::optional<std::string> titleForHeaderInSection(TableView* tableView, int section) override;
  std::optional<std::vector<std::string>> sectionIndexTitlesForTableView(
      TableView* tableView) override;
  int sectionForSectionIndexTitle(TableView* tableView, const std::string& title, int index);
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView* tableView,
                                                       const IndexPath& indexPath) override;
  std::optional<IndexPath> willSelectRowAtIndexPath(TableView* tableView,
                                                    const IndexPath& indexPath) override;

 private:
  TableView* m_table_view = nullptr;
  std::vector<Section> m_list;
  std::optional<std::vector<std::string>> m_indexList;
  SelectPostProcessOwner* m_owner;
};

}  // namespace glowsnap
