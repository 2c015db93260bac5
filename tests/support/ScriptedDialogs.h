// Test answers for the application's dialogs: every box is recorded, and answered from a
// script (or with a default) without a modal loop.
#pragma once

#include "widgets/Dialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

class TScriptedDialogs : public IDialogs {
public:
    struct TBox {
        QString Caption;
        QString Text;
        TIcon Icon;
        TButtons Buttons;
        // The buttons of a Choose box; empty for a MessageBox.
        QStringList Choices = {};
    };
    struct TInput {
        QString Caption;
        QString Prompt;
        QString Initial;
    };

    TResult MessageBox(const QString& caption, const QString& text, TIcon icon,
                       TButtons buttons) override {
        Boxes.push_back({caption, text, icon, buttons});
        if (OnBox)
            OnBox(Boxes.back());
        if (!Answers.empty()) {
            const TResult r = Answers.front();
            Answers.pop_front();
            return r;
        }
        return buttons == YesNo ? DefaultYesNo : ResultOk;
    }

    // Recorded among the boxes; answered from ChoiceAnswers, else closed without a choice.
    int Choose(const QString& caption, const QString& text, TIcon icon,
               const QStringList& buttons) override {
        Boxes.push_back({caption, text, icon, Ok, buttons});
        if (OnBox)
            OnBox(Boxes.back());
        if (ChoiceAnswers.empty())
            return -1;
        const int choice = ChoiceAnswers.front();
        ChoiceAnswers.pop_front();
        return choice;
    }

    bool OpenLocation(const QString& path) override {
        Opened.push_back(path);
        return OpenSucceeds;
    }

    bool InputValue(const QString& caption, const QString& prompt, const QFont*,
                    QString& value) override {
        Inputs.push_back({caption, prompt, value});
        if (InputAnswers.empty())
            return false;
        const auto answer = InputAnswers.front();
        InputAnswers.pop_front();
        if (!answer.first)
            return false;
        value = answer.second;
        return true;
    }

    QString OpenFileName(QWidget*) override { return Take(OpenNames); }
    QString SaveFileName(QWidget*) override { return Take(SaveNames); }
    QString SaveDocumentName(QWidget*, const QString& filter, const QString&,
                             const QString& suggested) override {
        DocumentFilters.push_back(filter);
        DocumentSuggestions.push_back(suggested);
        return Take(SaveNames);
    }
    QString RecordingFileName(QWidget*, const QString& suggested) override {
        RecordingSuggestions.push_back(suggested);
        return Take(SaveNames);
    }
    bool ReportDetails(QWidget*, QString& site, QString& technician, QString& notes) override {
        if (ReportAnswers.empty())
            return false;
        const TReportAnswer a = ReportAnswers.front();
        ReportAnswers.pop_front();
        site = a.Site;
        technician = a.Technician;
        notes = a.Notes;
        return true;
    }

    std::vector<TBox> Boxes;
    std::vector<TInput> Inputs;
    std::deque<TResult> Answers;
    TResult DefaultYesNo = ResultNo;
    // The index each Choose box answers with.
    std::deque<int> ChoiceAnswers;
    // What OpenLocation was asked to open, in order; whether it "opens".
    QStringList Opened;
    bool OpenSucceeds = true;
    // {true, text}: OK with that text; {false, ...}: Cancel.
    std::deque<std::pair<bool, QString>> InputAnswers;
    std::deque<QString> OpenNames;
    std::deque<QString> SaveNames;
    QStringList DocumentFilters;
    QStringList RecordingSuggestions;
    // The path each document's dialog was opened on.
    QStringList DocumentSuggestions;
    struct TReportAnswer {
        QString Site;
        QString Technician;
        QString Notes;
    };
    // Each answers one report's details with OK; none left: Cancel.
    std::deque<TReportAnswer> ReportAnswers;
    // Runs while a box is "open", to see what happens meanwhile.
    std::function<void(const TBox&)> OnBox;

private:
    static QString Take(std::deque<QString>& names) {
        if (names.empty())
            return {};
        QString n = names.front();
        names.pop_front();
        return n;
    }
};
