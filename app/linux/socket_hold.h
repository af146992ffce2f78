// Holds back socket notifiers (device events, terminate signals) while events
// are handed out during the update, for as long as the hold exists.
#pragma once
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <vector>

// Not every event dispatcher honours ExcludeSocketNotifiers (the GLib one, which
// Qt uses on Linux, does not). A notifier that fires during the pause is switched
// off instead and on again afterwards, when it fires anew for what is waiting.
class SocketHold : public QObject {
  public:
    ~SocketHold() override {
        for (const QPointer<QSocketNotifier>& notifier : m_held) {
            if (notifier != nullptr) {
                notifier->setEnabled(true);
            }
        }
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::SockAct) {
            return false;
        }
        QSocketNotifier* notifier = qobject_cast<QSocketNotifier*>(watched);
        if (notifier == nullptr) {
            return false;
        }
        notifier->setEnabled(false);
        m_held.push_back(notifier);
        return true;
    }

  private:
    std::vector<QPointer<QSocketNotifier>> m_held;
};
