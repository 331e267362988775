#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace qv::test {

// The real quorvenda program as a child of the test, with settings and caches of its own and
// every log line of its categories, debug included.
class RunningApp {
public:
    RunningApp();
    // Kills the program if it still runs.
    ~RunningApp();

    // The environment any quorvenda of this test runs in: outside the test harness.
    QProcessEnvironment environment() const;

    void start(const QStringList& arguments = {});
    // For the program started next: these folders are looked in first for programs.
    void prependToPath(const QString& folder);
    // Runs another quorvenda to its end; its exit code, -1 when it did not end in 10 s.
    int runAnother(const QStringList& arguments, QString* output = nullptr);

    // Waits for a log line "<category>: <message>" (category without the "quorvenda." prefix).
    bool waitForLine(const QString& category, const QString& message, int milliseconds = 10000);
    bool hasLine(const QString& category, const QString& message);
    // The first line of the category that begins with the prefix, empty when there is none.
    QString lineStartingWith(const QString& category, const QString& prefix);
    QString log();

    QProcess& process() { return m_process; }
    const QTemporaryDir& home() const { return m_home; }

private:
    QStringList lines();

    QTemporaryDir m_home;
    QProcess m_process;
    QByteArray m_output;
};

// Presses keys on the X server through XTest, as a user would.
class X11Keys {
public:
    X11Keys();
    ~X11Keys();
    bool isOpen() const { return m_display != nullptr; }

    // Presses the keys in order and lets them go in reverse ("Alt_L", "Shift_L", "space").
    void chord(const QStringList& keysymNames);
    // The two halves of a chord, for keys held while something happens.
    void press(const QStringList& keysymNames);
    void release(const QStringList& keysymNames);
    // A click of the primary button at a point of the screen.
    void click(int x, int y);
    // The pointer to a point of the screen, and the primary button pressed or let go there.
    void move(int x, int y);
    void button(bool down);

private:
    void* m_display = nullptr;
};

// True when nothing owns the application's name on the session bus, waiting up to 10 s for an
// earlier instance to let go of it.
bool sessionBusNameFree();

} // namespace qv::test
