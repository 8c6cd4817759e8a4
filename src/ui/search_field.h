// Gps → Find: the search field over the map's top-right corner: a line of text, a status line
// ("Indexing town.mbtiles 40 %") and the results (name, kind, distance from the view). Each change of
// the text goes to SearchFieldData::edited, Enter in the text to `entered`; Down moves into the list,
// where Enter or a click chooses a row (`chosen`); once a place is chosen a Route button under the
// text routes there (`route`); Escape calls `cleared`, empties and hides the field and gives the
// keyboard back to the map. Keys and clicks on the field never reach the map below.
// Window thread only; the field is a child of the map view and lives as long as it. Controls are
// named "text", "status", "route" and "results".
#pragma once

#include <QFrame>

#include "platform/window.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace vg {

class SearchField : public QFrame {
    Q_OBJECT
public:
    explicit SearchField(QWidget* map_view);

    // Shows the field with these hooks, the keyboard in its text (all of it selected).
    void open(SearchFieldData data);
    // Replaces the list and the status line.
    void show_texts(const SearchTexts& texts);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void clear_and_close();
    void choose_current();
    // Top-right of the map area, as tall as what it shows.
    void place();

    SearchFieldData data_;
    QLineEdit* text_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* route_ = nullptr;
    QTreeWidget* results_ = nullptr;
};

// The map view's search field, made on the first call, opened with `data`.
SearchField* open_search_field(QWidget* map_view, SearchFieldData data);

}  // namespace vg
