#pragma once
// A status bar with numbered text panels (1 to n), as the station addresses them.
#include <QLabel>
#include <QStatusBar>
#include <QVector>

namespace platform {

class StatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusBar(int panels, QWidget* parent = nullptr) : QStatusBar(parent) {
        for (int i = 0; i < panels; ++i) {
            auto* l = new QLabel(this);
            l->setMinimumWidth(60);
            addPermanentWidget(l, i == 1 ? 4 : 1);
            labels_ << l;
        }
    }
    QString panelText(int panel) const { return panel >= 1 && panel <= labels_.size() ? labels_[panel - 1]->text() : QString(); }
    void setPanelText(int panel, const QString& t) {
        if (panel >= 1 && panel <= labels_.size()) labels_[panel - 1]->setText(t);
    }
    int panelCount() const { return labels_.size(); }
    // Keeps a panel at least as wide as `sample` needs, whatever the window's width.
    void fitPanelTo(int panel, const QString& sample) {
        if (panel < 1 || panel > labels_.size()) return;
        QLabel* l = labels_[panel - 1];
        const QMargins m = l->contentsMargins();
        l->setMinimumWidth(qMax(60, l->fontMetrics().horizontalAdvance(sample) + m.left() + m.right() + 2 * l->margin() +
                                        2 * l->frameWidth() + 4));
    }
private:
    QVector<QLabel*> labels_;
};

}  // namespace platform
