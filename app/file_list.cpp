#include "app/file_list.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <algorithm>

namespace tavrine::app {

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(paths_.size());
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= paths_.size()) return {};
  // An item is its text alone, so the list's own tool tip shows over the items too.
  if (role == Qt::DisplayRole) return paths_[index.row()];
  return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole) {
    return QStringLiteral("File(s)");
  }
  return {};
}

void FileListModel::Append(const QStringList& paths) {
  if (paths.isEmpty()) return;
  const int first = static_cast<int>(paths_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(paths.size()) - 1);
  paths_ << paths;
  endInsertRows();
}

void FileListModel::RemoveAt(int row) {
  if (row < 0 || row >= paths_.size()) return;
  beginRemoveRows(QModelIndex(), row, row);
  paths_.removeAt(row);
  endRemoveRows();
}

void FileListModel::Clear() {
  beginResetModel();
  paths_.clear();
  endResetModel();
}

void FileListModel::Swap(int a, int b) {
  paths_.swapItemsAt(a, b);
  emit dataChanged(index(a), index(a));
  emit dataChanged(index(b), index(b));
}

FileListView::FileListView(QWidget* parent) : QTreeView(parent) {
  setModel(&model_);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setItemsExpandable(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setAcceptDrops(true);
  setDropIndicatorShown(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  header()->setStretchLastSection(false);
}

int FileListView::SelectedRow() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
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
    if (const int row = SelectedRow(); row >= 0) emit RemoveRequested(row);
    return;
  }
  QTreeView::keyPressEvent(event);
}

void FileListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  if (const int row = SelectedRow(); row >= 0) emit RemoveRequested(row);
}

void FileListView::mousePressEvent(QMouseEvent* event) {
  dragging_ = true;
  QTreeView::mousePressEvent(event);
  if (dragCursor_ && indexAt(event->position().toPoint()).isValid()) {
    viewport()->setCursor(*dragCursor_);
  }
  draggedRow_ = SelectedRow();
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
  if (model_.Paths()[draggedRow_] == model_.Paths()[underRow]) return;
  model_.Swap(draggedRow_, underRow);
  setCurrentIndex(under);
  draggedRow_ = underRow;
  // Near the top or bottom edge, bring the next item in the drag's direction into view.
  const int edge = sizeHintForRow(0);
  const int y = position.y();
  if (y < edge && underRow > 0) {
    scrollTo(model_.index(underRow - 1));
  } else if (y >= viewport()->height() - edge && underRow + 1 < model_.rowCount()) {
    scrollTo(model_.index(underRow + 1));
  }
}

}  // namespace tavrine::app
