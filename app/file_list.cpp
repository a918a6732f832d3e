#include "app/file_list.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <algorithm>
#include <iterator>

#include "app/utilities.h"

namespace tavrine::app {

namespace {

QString InImageText(const Placement& placed) {
  const QString path = QString::fromStdU16String(placed.imagePath);
  switch (placed.fate) {
    case Placement::Fate::kIn:
      return path;
    case Placement::Fate::kRenamed:
      return path + QStringLiteral("  (renamed)");
    case Placement::Fate::kListedBefore:
      return path + QStringLiteral("  (listed above: goes in once)");
    case Placement::Fate::kLeftOut:
      break;
  }
  return QStringLiteral("left out: ") + QString::fromStdString(placed.reason);
}

}  // namespace

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(files_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 2;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  const auto row = static_cast<std::size_t>(index.row());
  if (!index.isValid() || row >= files_.size()) return {};
  // No tool tip of the items' own, so the list's tool tip shows over them too.
  if (index.column() == 0) {
    return role == Qt::DisplayRole ? QVariant(FromNativePath(files_[row].path)) : QVariant();
  }
  if (row >= plan_.size()) return {};
  const bool marked = plan_[row].fate != Placement::Fate::kIn;
  if (role == Qt::DisplayRole) return InImageText(plan_[row]);
  if (role == Qt::FontRole && marked) {
    QFont font;
    font.setItalic(true);
    return font;
  }
  return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section == 0) return QStringLiteral("File(s)");
  if (section == 1) return QStringLiteral("In image");
  return {};
}

QStringList FileListModel::Paths() const {
  QStringList paths;
  for (const ListedFile& file : files_) paths << FromNativePath(file.path);
  return paths;
}

QStringList FileListModel::InImage() const {
  QStringList texts;
  for (int row = 0; row < rowCount(); ++row)
    texts << data(index(row, 1), Qt::DisplayRole).toString();
  return texts;
}

void FileListModel::Append(std::vector<ListedFile> files) {
  if (files.empty()) return;
  const int first = rowCount();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(files.size()) - 1);
  files_.insert(files_.end(), std::make_move_iterator(files.begin()),
                std::make_move_iterator(files.end()));
  endInsertRows();
  emit FilesChanged();
}

void FileListModel::Remove(std::vector<int> rows) {
  std::erase_if(rows, [this](int row) { return row < 0 || row >= rowCount(); });
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  if (rows.empty()) return;
  if (rows.size() == 1) {  // the view keeps its place
    const int row = rows.front();
    beginRemoveRows(QModelIndex(), row, row);
    files_.erase(files_.begin() + row);
    if (static_cast<std::size_t>(row) < plan_.size()) plan_.erase(plan_.begin() + row);
    endRemoveRows();
  } else {  // one pass, however many rows go
    beginResetModel();
    std::size_t next = 0, kept = 0;
    for (std::size_t i = 0; i < files_.size(); ++i) {
      if (next < rows.size() && static_cast<std::size_t>(rows[next]) == i) {
        ++next;
      } else {
        files_[kept++] = std::move(files_[i]);
      }
    }
    files_.resize(kept);
    plan_.clear();  // a new plan follows the change
    endResetModel();
  }
  emit FilesChanged();
}

void FileListModel::Clear() {
  beginResetModel();
  files_.clear();
  plan_.clear();
  endResetModel();
  emit FilesChanged();
}

void FileListModel::Swap(int a, int b) {
  std::swap(files_[static_cast<std::size_t>(a)], files_[static_cast<std::size_t>(b)]);
  emit dataChanged(index(a, 0), index(a, 1));
  emit dataChanged(index(b, 0), index(b, 1));
  emit FilesChanged();
}

void FileListModel::ShowPlan(std::vector<Placement> placements) {
  if (placements.size() != files_.size()) return;
  plan_ = std::move(placements);
  if (!files_.empty()) emit dataChanged(index(0, 1), index(rowCount() - 1, 1));
}

FileListView::FileListView(QWidget* parent) : QTreeView(parent) {
  setModel(&model_);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setItemsExpandable(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);  // Ctrl+A, Shift and Ctrl clicks
  setAcceptDrops(true);
  setDropIndicatorShown(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  header()->setStretchLastSection(true);
}

std::vector<int> FileListView::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  return rows;
}

namespace {

// A list of URLs is a list of files only when a local file is among them; web links alone would
// be accepted and then dropped on the floor.
bool CarriesLocalFiles(const QMimeData* data) {
  const QList<QUrl> urls = data->urls();
  return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

// A drag without a list of files is refused while it is over the list.
void AcceptOnlyLocalFiles(QDropEvent* event) {
  if (CarriesLocalFiles(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

}  // namespace

void FileListView::dragEnterEvent(QDragEnterEvent* event) {
  AcceptOnlyLocalFiles(event);
}

void FileListView::dragMoveEvent(QDragMoveEvent* event) {
  AcceptOnlyLocalFiles(event);
}

void FileListView::dropEvent(QDropEvent* event) {
  if (!CarriesLocalFiles(event->mimeData())) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  emit FilesDropped(event->mimeData()->urls());
}

void FileListView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete) {
    if (std::vector<int> rows = SelectedRows(); !rows.empty()) emit RemoveRequested(rows);
    return;
  }
  QTreeView::keyPressEvent(event);
}

void FileListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  if (const QModelIndex at = indexAt(event->position().toPoint()); at.isValid()) {
    emit RemoveRequested({at.row()});
  }
}

void FileListView::mousePressEvent(QMouseEvent* event) {
  dragging_ = true;
  QTreeView::mousePressEvent(event);
  const QModelIndex at = indexAt(event->position().toPoint());
  if (dragCursor_ && at.isValid()) viewport()->setCursor(*dragCursor_);
  draggedRow_ = at.isValid() ? at.row() : -1;
}

void FileListView::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    DragOver(event->position().toPoint());
    return;  // the default handler would start a rubber band or move the selection itself
  }
  QTreeView::mouseMoveEvent(event);
}

void FileListView::mouseReleaseEvent(QMouseEvent* event) {
  dragging_ = false;
  viewport()->setCursor(Qt::ArrowCursor);
  QTreeView::mouseReleaseEvent(event);
}

void FileListView::DragOver(const QPoint& position) {
  const QModelIndex under = indexAt(position);
  if (draggedRow_ < 0 || !under.isValid() || draggedRow_ >= model_.rowCount()) return;
  const int underRow = under.row();
  // Equal texts are never exchanged, so a run of equal paths stays as it is.
  const std::vector<ListedFile>& files = model_.Files();
  if (files[static_cast<std::size_t>(draggedRow_)].path ==
      files[static_cast<std::size_t>(underRow)].path) {
    return;
  }
  model_.Swap(draggedRow_, underRow);
  setCurrentIndex(model_.index(underRow, 0));
  draggedRow_ = underRow;
  // Near the top or bottom edge, bring the next item in the drag's direction into view.
  const int edge = sizeHintForRow(0);
  const int y = position.y();
  if (y < edge && underRow > 0) {
    scrollTo(model_.index(underRow - 1, 0));
  } else if (y >= viewport()->height() - edge && underRow + 1 < model_.rowCount()) {
    scrollTo(model_.index(underRow + 1, 0));
  }
}

}  // namespace tavrine::app
