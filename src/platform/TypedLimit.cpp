#include "platform/TypedLimit.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>

namespace platform {

namespace {

class TypedGuard : public QObject {
public:
    TypedGuard(QLineEdit* box, int typed) : QObject(box), box_(box), typed_(typed) {
        setObjectName(QStringLiteral("TypedLimit"));
        box->setAcceptDrops(false);   // a dropped text would pass the limit
        box->installEventFilter(this);
    }
    int typed() const { return typed_; }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o != box_) return false;
        switch (e->type()) {
        case QEvent::KeyPress: {
            auto* k = static_cast<QKeyEvent*>(e);
            if (k->matches(QKeySequence::Paste)) {
                paste(QGuiApplication::clipboard()->text());
                return true;
            }
            const QString t = k->text();
            return !t.isEmpty() && t.at(0).isPrint() && int(t.size()) > room();
        }
        case QEvent::InputMethod: {
            // A commit replaces the selection (or the range it names) with its text.
            auto* im = static_cast<QInputMethodEvent*>(e);
            const QString commit = im->commitString();
            if (commit.isEmpty()) return false;
            const int left = room() + im->replacementLength();
            if (int(commit.size()) > left)
                im->setCommitString(commit.left(qMax(left, 0)), im->replacementStart(), im->replacementLength());
            return false;
        }
        case QEvent::ContextMenu: {
            QMenu* menu = box_->createStandardContextMenu();
            const QString pasteKey = QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
            for (QAction* a : menu->actions()) {
                // The standard menu's paste, named in newer Qt, known by its shortcut in older.
                if (a->objectName() != QLatin1String("edit-paste") && a->text().section(QLatin1Char('\t'), 1) != pasteKey)
                    continue;
                disconnect(a, &QAction::triggered, nullptr, nullptr);
                connect(a, &QAction::triggered, box_, [this] { paste(QGuiApplication::clipboard()->text()); });
            }
            menu->exec(static_cast<QContextMenuEvent*>(e)->globalPos());
            delete menu;
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(e)->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
                paste(QGuiApplication::clipboard()->text(QClipboard::Selection));
                return true;
            }
            return false;
        default:
            return false;
        }
    }

private:
    // What may still be added over the selection.
    int room() const { return typed_ - int(box_->text().size() - box_->selectedText().size()); }
    void paste(const QString& text) {
        if (!box_ || box_->isReadOnly()) return;
        const QString line = text.section(QLatin1Char('\n'), 0, 0).remove(QLatin1Char('\r'));
        const int n = room();
        if (n <= 0 || line.isEmpty()) return;
        box_->insert(line.left(n));
    }

    QPointer<QLineEdit> box_;
    int typed_;
};

TypedGuard* guardOf(const QLineEdit* box) {
    return box ? box->findChild<TypedGuard*>(QStringLiteral("TypedLimit"), Qt::FindDirectChildrenOnly) : nullptr;
}

}  // namespace

void LimitTyped(QLineEdit* box, int typed) {
    if (!box) return;
    delete guardOf(box);
    new TypedGuard(box, typed);
}

int TypedLimitOf(const QLineEdit* box) {
    const TypedGuard* g = guardOf(box);
    return g ? g->typed() : -1;
}

}  // namespace platform
