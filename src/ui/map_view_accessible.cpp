// Accessibility of the map view: the painted toolbar's eleven buttons are no widgets, so the view's
// accessible interface lists them as children of its own, each a button with its name, description,
// place and a "press" action that acts as a click on it.
#include "ui/map_view.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <array>
#include <vector>

#include "app/toolbar_layout.h"

namespace vg {

namespace {

QRect button_box(int button) {
    const auto b = static_cast<std::size_t>(button);
    return QRect(QPoint(toolbar::kHitLeft[b], toolbar::kHitTop), QPoint(toolbar::kHitRight[b], toolbar::kHitBottom));
}

class ToolbarButtonAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ToolbarButtonAccessible(MapView* view, int button) : view_(view), button_(button) {}

    bool isValid() const override { return !view_.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return view_ ? QAccessible::queryAccessibleInterface(view_) : nullptr; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return MapView::button_name(button_);
        if (t == QAccessible::Description || t == QAccessible::Help) return MapView::button_status_tip(button_);
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!view_) return {};
        const QRect box = button_box(button_);
        return QRect(view_->mapToGlobal(box.topLeft()), box.size());
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.invisible = view_ == nullptr || !view_->isVisible();
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (!view_ || name != pressAction()) return;
        const QPoint middle = button_box(button_).center();
        Q_EMIT view_->mouse_pressed(MapView::MouseButton::Left, middle.x(), middle.y());
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<MapView> view_;
    int button_;
};

class MapViewAccessible : public QAccessibleWidget {
public:
    explicit MapViewAccessible(MapView* view) : QAccessibleWidget(view, QAccessible::Client) {
        for (int b = 0; b < toolbar::kButtonCount; ++b)
            ids_[static_cast<std::size_t>(b)] = QAccessible::registerAccessibleInterface(new ToolbarButtonAccessible(view, b));
    }
    ~MapViewAccessible() override {
        for (QAccessible::Id id : ids_) QAccessible::deleteAccessibleInterface(id);
    }

    // The eleven buttons, then the view's widgets shown over the map (the search field, Detect).
    int childCount() const override { return toolbar::kButtonCount + static_cast<int>(shown_widgets().size()); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0) return nullptr;
        if (index < toolbar::kButtonCount) return QAccessible::accessibleInterface(ids_[static_cast<std::size_t>(index)]);
        const auto shown = shown_widgets();
        const auto k = static_cast<std::size_t>(index - toolbar::kButtonCount);
        return k < shown.size() ? QAccessible::queryAccessibleInterface(shown[k]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (int b = 0; b < toolbar::kButtonCount; ++b)
            if (QAccessible::accessibleInterface(ids_[static_cast<std::size_t>(b)]) == child) return b;
        const auto shown = shown_widgets();
        for (std::size_t k = 0; k < shown.size(); ++k)
            if (child && child->object() == shown[k]) return toolbar::kButtonCount + static_cast<int>(k);
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint local = widget()->mapFromGlobal(QPoint(x, y));
        const int b = toolbar::hit_button(local.x(), local.y());
        return b == toolbar::kButtonCount ? nullptr : child(b);
    }

private:
    std::vector<QWidget*> shown_widgets() const {
        std::vector<QWidget*> shown;
        for (QWidget* w : widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (w->isVisible() && !w->isWindow()) shown.push_back(w);
        return shown;
    }
    std::array<QAccessible::Id, toolbar::kButtonCount> ids_{};
};

QAccessibleInterface* map_view_factory(const QString& class_name, QObject* object) {
    if (class_name == QLatin1String("vg::MapView") && object != nullptr && object->isWidgetType())
        return new MapViewAccessible(static_cast<MapView*>(object));
    return nullptr;
}

}  // namespace

void MapView::install_accessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(map_view_factory);
        return true;
    }();
    (void)installed;
}

}  // namespace vg
