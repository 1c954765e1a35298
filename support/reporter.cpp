// Shared reporting rules: status-log text, the unexpected-error report.
#include "support/reporter.h"

#include "support/errors.h"

#include <chrono>
#include <new>
#include <thread>
#include <system_error>

const char* const kContactAddress = "the Orrindale developers, support@orrindale.invalid";

void appendStatusLine(QString& log, const QString& text, bool append) {
    if (!append) log.clear();
    log += text;
    log += QStringLiteral("\r\n");
}

QString unexpectedErrorText(const QString& module, int number, const QString& description) {
    return QStringLiteral("Unexpected error occurred in module ") + module + QStringLiteral(" \r\n") +
           QStringLiteral("Error number ") + QString::number(number) +
           QStringLiteral(", described as '") + description + QStringLiteral("'\r\n") +
           QStringLiteral("Please report giving all possible details to: ") +
           QString::fromLatin1(kContactAddress);
}

ErrorInfo describeException(std::exception_ptr e) {
    ErrorInfo info;
    if (!e) return info;
    try {
        std::rethrow_exception(e);
    } catch (const RunError& err) {
        info = {err.number(), QString::fromStdString(err.what())};
    } catch (const std::invalid_argument& err) {
        info = {kErrInvalidArgument, QString::fromStdString(err.what())};
    } catch (const std::out_of_range& err) {
        info = {kErrOutOfRange, QString::fromStdString(err.what())};
    } catch (const std::overflow_error& err) {
        info = {kErrOverflow, QString::fromStdString(err.what())};
    } catch (const std::bad_alloc&) {
        info = {kErrOutOfMemory, QStringLiteral("Out of memory")};
    } catch (const std::system_error& err) {
        info = {err.code().value(), QString::fromStdString(err.what())};
    } catch (const std::exception& err) {
        info = {kErrGeneric, QString::fromStdString(err.what())};
    } catch (...) {
        info = {kErrGeneric, QStringLiteral("Unknown failure")};
    }
    return info;
}

void Reporter::pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void Reporter::InformarError(const QString& module) {
    const ErrorInfo info = describeException(std::current_exception());
    InformarError(module, info.number, info.description);
}

void Reporter::InformarError(const QString& module, int number, const QString& description) {
    MostrarError(unexpectedErrorText(module, number, description));
    EscribirEstado(QStringLiteral("An unexpected error occurred"), false);
}

void Reporter::showResult(ResultKind, const QString&, const QImage&) {}

void Reporter::stageProgress(int) {}
