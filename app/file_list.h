// The file list: a one-column view over a plain list of local paths, filled in batches so that
// a folder of many thousand files goes in at once.
#pragma once

#include <QAbstractListModel>
#include <QCursor>
#include <QList>
#include <QStringList>
#include <QTreeView>
#include <QUrl>
#include <optional>

namespace tavrine::app {

class FileListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  const QStringList& Paths() const { return paths_; }
  // Appends paths at the end, in one insertion.
  void Append(const QStringList& paths);
  void RemoveAt(int row);
  void Clear();
  // Exchanges the texts of two rows.
  void Swap(int a, int b);

 private:
  QStringList paths_;
};

// The view: accepts dropped file lists, removes with Delete or a double-click, and reorders an
// item by dragging it over its neighbours (each exchanges its text with the dragged one).
class FileListView : public QTreeView {
  Q_OBJECT

 public:
  explicit FileListView(QWidget* parent = nullptr);
  FileListModel& Model() { return model_; }
  // The pointer shown while an item is pressed; without one the arrow stays.
  void DragCursor(const QCursor& cursor) { dragCursor_ = cursor; }

 signals:
  void FilesDropped(const QList<QUrl>& urls);
  // Delete key or double-click on the selected row.
  void RemoveRequested(int row);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int SelectedRow() const;
  void DragOver(const QPoint& position);

  FileListModel model_;
  std::optional<QCursor> dragCursor_;
  bool dragging_ = false;
  int draggedRow_ = -1;
};

}  // namespace tavrine::app
