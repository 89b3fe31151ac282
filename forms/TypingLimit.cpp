#include "forms/TypingLimit.h"

#include <QLineEdit>
#include <QValidator>

namespace forms {
namespace {

// The edit runs its validator after every change of its text, also after setText. A text that the
// operator has not changed (the edit is not modified) is the program's and always passes; a change
// by the operator may not make the text longer than the limit or than the text it replaces.
class TTypingLimit : public QValidator {
public:
    TTypingLimit(QLineEdit* edit, int maxLength) : QValidator(edit), FEdit(edit), FMaxLength(maxLength)
    {
        FAcceptedLength = edit->text().size();
    }

    State validate(QString& input, int& pos) const override
    {
        if (FEdit->isModified() && input.size() > FMaxLength && input.size() > FAcceptedLength) {
            // Only a text within the limit can take a cut insertion: the characters just typed or
            // pasted stand before the cursor.
            qsizetype excess = input.size() - FMaxLength;
            // The cut ends at a character boundary: never half of a surrogate pair.
            if (pos - excess > 0 && pos - excess < input.size() && input[pos - excess].isLowSurrogate() &&
                input[pos - excess - 1].isHighSurrogate())
                ++excess;
            if (FAcceptedLength > FMaxLength || pos < excess)
                return Invalid;
            input.remove(pos - excess, excess);
            pos -= static_cast<int>(excess);
        }
        FAcceptedLength = input.size();
        return Acceptable;
    }

private:
    QLineEdit* FEdit;
    int FMaxLength;
    mutable qsizetype FAcceptedLength = 0;
};

} // namespace

void LimitTyping(QLineEdit* edit, int maxLength)
{
    edit->setValidator(new TTypingLimit(edit, maxLength));
}

} // namespace forms
