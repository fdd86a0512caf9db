#include "app/SelectPostProcessVC.h"

#include <algorithm>

namespace glowsnap {

int str_cmp(const std::string& a, const std::string& b, void*) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

SelectPostProcessVC::SelectPostProcessVC(SelectPostProcessOwner* owner) : m_owner(owner) {
  const std::set<std::string> names = m_owner ? m_owner->get_pp_names() : std::set<std::string>{};
  std::vector<std::string> sorted(names.begin(), names.end());
  std::sort(sorted.begin(), sorted.end(),
            [](const std::string& a, const std::string& b) { return str_cmp(a, b, nullptr) < 0; });
  m_list.push_back(Section{"Select filter", std::move(sorted)});
}

SelectPostProcessVC::~SelectPostProcessVC() = default;

void SelectPostProcessVC::setTable_view(TableView* tableView) {
  m_table_view = tableView;
  if (m_table_view) m_table_view->setBackgroundColor(Qt::black);
}

int SelectPostProcessVC::numberOfSectionsInTableView(TableView*) {
  return static_cast<int>(m_list.size());
}

int SelectPostProcessVC::numberOfRowsInSection(TableView*, int section) {
  if (section < 0 || section >= static_cast<int>(m_list.size())) return 0;
  return static_cast<int>(m_list[section].authors.size());
}

std::optional<std::string> SelectPostProcessVC::titleForHeaderInSection(TableView*, int section) {
  if (section < 0 || section >= static_cast<int>(m_list.size())) return std::nullopt;
  return m_list[section].title;
}

std::optional<std::vector<std::string>> SelectPostProcessVC::sectionIndexTitlesForTableView(
    TableView*) {
  return m_indexList;
}

int SelectPostProcessVC::sectionForSectionIndexTitle(TableView*, const std::string& title, int) {
  if (!m_indexList) return 0;
  auto it = std::find(m_indexList->begin(), m_indexList->end(), title);
  return it == m_indexList->end() ? 0 : static_cast<int>(it - m_indexList->begin());
}

std::shared_ptr<TableViewCell> SelectPostProcessVC::cellForRowAtIndexPath(
    TableView* tableView, const IndexPath& indexPath) {
  static const std::string kCellId = "AuthorCell";
  std::shared_ptr<TableViewCell> cell =
      tableView ? tableView->dequeueReusableCellWithIdentifier(kCellId) : nullptr;
  if (!cell) cell = std::make_shared<TableViewCell>(kCellId);
  const std::string& name = m_list.at(indexPath.section).authors.at(indexPath.row);
  cell->setText(name);
  cell->setTextColor(name.find("New!") != std::string::npos ? QColor(Qt::red) : QColor(Qt::black));
  const bool current = m_owner && !name.empty() && name == m_owner->current_pp_name();
  cell->setAccessoryType(current ? TableViewCell::AccessoryCheckmark
                                 : TableViewCell::AccessoryNone);
  return cell;
}

std::optional<IndexPath> SelectPostProcessVC::indexPathForName(const std::string& name) const {
  for (std::size_t s = 0; s < m_list.size(); ++s) {
    const auto& rows = m_list[s].authors;
    auto it = std::find(rows.begin(), rows.end(), name);
    if (it != rows.end())
      return IndexPath{static_cast<int>(s), static_cast<int>(it - rows.begin())};
  }
  return std::nullopt;
}

std::optional<IndexPath> SelectPostProcessVC::willSelectRowAtIndexPath(TableView*,
                                                                       const IndexPath& indexPath) {
  const std::string name = m_list.at(indexPath.section).authors.at(indexPath.row);
  if (m_owner) m_owner->on_selected_pp(name);
  return std::nullopt;
}

}  // namespace glowsnap
