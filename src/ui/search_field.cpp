#include "ui/search_field.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/toolbar_layout.h"
#include "ui/qt_window.h"

namespace vg {
namespace {

constexpr int kWidth = 340;    // at most; narrower on a narrow map
constexpr int kMostRows = 8;   // rows shown before the list scrolls
constexpr int kMargin = 6;     // from the map area's edges

}  // namespace

SearchField::SearchField(QWidget* map_view) : QFrame(map_view) {
    setObjectName("search_field");
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    text_ = new QLineEdit(this);
    text_->setObjectName("text");
    text_->setPlaceholderText(tr("Place, street or position"));
    text_->setClearButtonEnabled(true);
    status_ = new QLabel(this);
    status_->setObjectName("status");
    status_->setWordWrap(true);
    route_ = new QPushButton(this);
    route_->setObjectName("route");
    route_->setAutoDefault(false);
    route_->hide();
    results_ = new QTreeWidget(this);
    results_->setObjectName("results");
    results_->setColumnCount(3);
    results_->setHeaderHidden(true);
    results_->setRootIsDecorated(false);
    results_->setUniformRowHeights(true);
    results_->setSelectionMode(QAbstractItemView::SingleSelection);
    results_->header()->setStretchLastSection(false);
    results_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    results_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    results_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    layout->addWidget(text_);
    layout->addWidget(status_);
    layout->addWidget(route_);
    layout->addWidget(results_);
    text_->installEventFilter(this);
    results_->installEventFilter(this);
    map_view->installEventFilter(this);
    connect(text_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (data_.edited) data_.edited(text.toStdString());
    });
    connect(text_, &QLineEdit::returnPressed, this, [this] {
        if (data_.entered) data_.entered(text_->text().toStdString());
    });
    connect(route_, &QPushButton::clicked, this, [this] {
        if (data_.route) data_.route();
    });
    connect(results_, &QTreeWidget::itemClicked, this, [this] { choose_current(); });
    connect(results_, &QTreeWidget::itemActivated, this, [this] { choose_current(); });
    hide();
}

void SearchField::open(SearchFieldData data) {
    data_ = std::move(data);
    text_->setToolTip(data_.online ? tr("Enter searches online as well") : QString());
    show();
    raise();
    place();
    text_->setFocus(Qt::ShortcutFocusReason);
    text_->selectAll();
}

void SearchField::show_texts(const SearchTexts& texts) {
    results_->clear();
    for (const SearchRow& row : texts.rows)
        results_->addTopLevelItem(new QTreeWidgetItem(
            {QtWindow::to_qstring(row.name), QtWindow::to_qstring(row.kind), QtWindow::to_qstring(row.distance)}));
    status_->setText(QtWindow::to_qstring(texts.status));
    route_->setText(tr("&Route to %1").arg(QtWindow::to_qstring(texts.chosen)));
    route_->setVisible(!texts.chosen.empty() && data_.route);
    place();
}

void SearchField::choose_current() {
    const int row = results_->indexOfTopLevelItem(results_->currentItem());
    if (row >= 0 && data_.chosen) data_.chosen(static_cast<std::size_t>(row));
}

void SearchField::clear_and_close() {
    text_->clear();
    results_->clear();
    status_->clear();
    route_->hide();
    hide();
    if (parentWidget()) parentWidget()->setFocus(Qt::OtherFocusReason);
    if (data_.cleared) data_.cleared();
}

void SearchField::place() {
    QWidget* view = parentWidget();
    if (!view || !isVisible()) return;
    status_->setVisible(!status_->text().isEmpty());
    const int rows = std::min(results_->topLevelItemCount(), kMostRows);
    results_->setVisible(rows > 0);
    if (rows > 0) {
        const int row_height = std::max(results_->sizeHintForRow(0), 1);
        results_->setFixedHeight(rows * row_height + 2 * results_->frameWidth() + 2);
    }
    const int width = std::max(120, std::min(kWidth, view->width() - 2 * kMargin - toolbar::kMapLeft));
    layout()->activate();
    const int height = heightForWidth(width) > 0 ? heightForWidth(width) : sizeHint().height();
    setGeometry(view->width() - width - kMargin, toolbar::kMapTop + kMargin, width, height);
}

bool SearchField::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget()) {
        if (event->type() == QEvent::Resize) place();
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Escape) {
        clear_and_close();
        return true;
    }
    if (watched == text_ && key == Qt::Key_Down && results_->topLevelItemCount() > 0) {
        results_->setFocus(Qt::TabFocusReason);
        results_->setCurrentItem(results_->topLevelItem(0));
        return true;
    }
    if (watched == results_ && key == Qt::Key_Up && results_->currentItem() == results_->topLevelItem(0)) {
        text_->setFocus(Qt::TabFocusReason);
        return true;
    }
    return false;
}

// What the field does not use stays with it: the map below would pan on the arrows and the clicks.
void SearchField::keyReleaseEvent(QKeyEvent* event) { event->accept(); }
void SearchField::mousePressEvent(QMouseEvent* event) { event->accept(); }
void SearchField::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }
void SearchField::wheelEvent(QWheelEvent* event) { event->accept(); }

SearchField* open_search_field(QWidget* map_view, SearchFieldData data) {
    auto* field = map_view->findChild<SearchField*>("search_field", Qt::FindDirectChildrenOnly);
    if (!field) field = new SearchField(map_view);
    field->open(std::move(data));
    return field;
}

}  // namespace vg
