// Keeps each control where it was designed at the window's designed size, and moves or stretches
// it by shares of the window's growth beyond that size.
#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

namespace tavrine::app {

class Anchors {
 public:
  // The parts of the extra width (x, w) and height (y, h) by which a control moves and grows.
  struct Share {
    double x, y, w, h;
  };

  // Takes the widget's present geometry as its designed one.
  void Add(QWidget* widget, Share share) { items_.push_back({widget, widget->geometry(), share}); }

  void Apply(QSize extra) const {
    for (const Item& item : items_) {
      const QRect& r = item.designed;
      item.widget->setGeometry(r.x() + Part(item.share.x, extra.width()),
                               r.y() + Part(item.share.y, extra.height()),
                               r.width() + Part(item.share.w, extra.width()),
                               r.height() + Part(item.share.h, extra.height()));
    }
  }

 private:
  struct Item {
    QWidget* widget;
    QRect designed;
    Share share;
  };
  static int Part(double share, int extra) { return static_cast<int>(share * extra); }

  std::vector<Item> items_;
};

}  // namespace tavrine::app
