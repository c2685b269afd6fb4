#include "app/QtConvertedQuestion.h"

#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "app/wizard_flow.h"

namespace tolvane::wizard {

QtConvertedQuestion::QtConvertedQuestion(QWidget* owner) : owner_(owner) {}

ConvertedAnswer QtConvertedQuestion::askAlreadyConverted(const std::string& ringtonePath) {
    if (QThread::currentThread() == thread())
        return ask(ringtonePath);
    // The worker waits here until the user has answered on the GUI thread. The GUI thread never
    // waits for the worker while the Progress page runs, so this cannot deadlock.
    ConvertedAnswer answer = ConvertedAnswer::SkipAll;
    QMetaObject::invokeMethod(
        this, [this, &answer, &ringtonePath] { answer = ask(ringtonePath); },
        Qt::BlockingQueuedConnection);
    return answer;
}

ConvertedAnswer QtConvertedQuestion::ask(const std::string& ringtonePath) {
    // The text carries the line breaks of a fixed-width box; this box wraps by itself. The
    // ringtone it is about comes first, so that "the file" names something.
    const QString text = QString::fromStdString(ringtonePath) + "\n\n" +
                         QString::fromUtf8(kAlreadyConvertedText).simplified();
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kMessageCaption), text,
                    QMessageBox::NoButton, owner_);
    box.setObjectName("alreadyConverted");
    QPushButton* skip = box.addButton(tr("Skip All"), QMessageBox::RejectRole);
    QPushButton* reconvert = box.addButton(tr("Reconvert All"), QMessageBox::AcceptRole);
    box.setDefaultButton(skip);
    // Closing the box keeps the existing ringtones: the choice that loses nothing.
    box.setEscapeButton(skip);
    box.exec();
    return box.clickedButton() == reconvert ? ConvertedAnswer::ReconvertAll
                                            : ConvertedAnswer::SkipAll;
}

}  // namespace tolvane::wizard
