// A non-modal notice across the top of the window: the latest failure, until
// the user closes it or another comes.
#ifndef NIMBRA_DESKTOP_NOTICEBAR_H
#define NIMBRA_DESKTOP_NOTICEBAR_H

#include <QFrame>

class QLabel;

namespace desktop {

class NoticeBar : public QFrame {
    Q_OBJECT
public:
    explicit NoticeBar(QWidget* parent = nullptr);
    void showNotice(const QString& text);
    QString text() const;

private:
    QLabel* m_text;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_NOTICEBAR_H
