// What a sender needs of the window while it waits, and nothing more: the status field the
// board's replies land in, and a way to tell the operator.
#pragma once

#include <QObject>

#include <string>
#include <string_view>

namespace device {

// The status field (Text9): the last two-character code the board sent, or "OA" written by a
// sender before a send. Changed() fires on every change, so a wait can sleep until then.
class AckSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual std::string Code() = 0;

signals:
    void Changed();
};

// Shows a message to the operator and returns when it has been closed; events keep running
// while it is open.
class OperatorNotice {
public:
    virtual ~OperatorNotice() = default;
    virtual void Tell(std::string_view text) = 0;
};

} // namespace device
