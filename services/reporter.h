// How the program reports to its user. Everything an operation has to say
// while it works (log text, progress, questions, information, and the output
// the user asked for) goes to the one reporter the front end installs at
// start: the main dialog shows it in its log, progress bar and boxes; the
// command line prints it and answers its questions from /yes. The core never
// knows which.
#pragma once

// What a question's answers mean: which answer lets the operation go on.
enum class Question {
    GoOn,         // Yes goes on, No stops
    Abandon,      // Yes gives the operation up, No goes on
    WarningGoOn,  // a warning: OK goes on, Cancel stops
};

class Reporter {
public:
    // Log text in order: timestamped lines and raw text alike.
    virtual void LogText(const char* text) = 0;
    virtual void ProgressRange(int maximum) = 0;
    virtual void ProgressPosition(int position) = 0;
    // true when the answer lets the operation go on. Waits for the answer.
    virtual bool Ask(Question kind, const char* text) = 0;
    // Information the user must read.
    virtual void Tell(const char* text) = 0;
    // Text the user asked for (a preview).
    virtual void Output(const char* text) = 0;
    // A line of a long run's progress: a card switched off, its ports
    // renamed, the card switched on. The progress bar says as much already.
    virtual void Step(const char*) {}

protected:
    ~Reporter() = default;
};

// Installed once by the front end before anything reports; called from any
// thread. nullptr goes back to the start: everything is dropped and every
// question is answered "stop".
void InstallReporter(Reporter* reporter);
Reporter& Report();
