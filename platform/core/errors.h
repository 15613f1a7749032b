#pragma once
// The two exceptions that carry failures through a handler.
//
// core::Error is a failure with a message for the user (a refused packet, a
// server error, a database error). A failure whose message is technical (it
// names queries, connections, servers, methods) also carries a text for
// people, saying in Portuguese what happened and what to do: that is what a
// box shows, and the technical message goes to the log (core::shownText). core::Abort is the silent abort: the
// message, if any, was already shown, and the dispatcher swallows it. Clean-up
// runs through RAII guards while either travels up the stack.

#include <QString>

#include <exception>
#include <string>

namespace core {

class Error : public std::exception {
public:
    explicit Error(QString message) : message_(std::move(message)), utf8_(message_.toStdString()) { }
    Error(QString message, QString forPeople)
        : message_(std::move(message)), people_(std::move(forPeople)), utf8_(message_.toStdString())
    { }
    /// The failure as it happened (technical detail included).
    const QString& message() const { return message_; }
    /// What a person is shown: the text for people, else the message.
    const QString& forPeople() const { return people_.isEmpty() ? message_ : people_; }
    /// The message is a technical detail kept for the log.
    bool hasDetail() const { return !people_.isEmpty(); }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString message_;
    QString people_;
    std::string utf8_;
};

/// An error raised by an application-server method; its text reaches the
/// caller unchanged (often a catalogue key such as "NOTA_ALT").
class ServerError : public Error {
public:
    using Error::Error;
};

/// A call that could not reach the server or got no usable answer.
class ConnectionError : public Error {
public:
    using Error::Error;
};

/// The server refused the call's session (none, expired, ended by logout or
/// by disabling the operator): HTTP 401. Nothing was done; logging in again
/// and repeating the call is safe.
class SessionError : public ConnectionError {
public:
    using ConnectionError::ConnectionError;
};

/// The silent abort raised after a message box, or by code that wants to end
/// the running handler without a message.
class Abort : public std::exception {
public:
    Abort() = default;
    explicit Abort(QString shownText) : text_(std::move(shownText)) { }
    /// The text of the box shown just before the abort, if any.
    const QString& shownText() const { return text_; }
    const char* what() const noexcept override { return "Operation aborted"; }

private:
    QString text_;
};

} // namespace core
