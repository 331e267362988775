#pragma once

#include "jobs/OptionsModel.h"
#include "model/operations/OptionField.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QFormLayout;

namespace qv {

class EditorButtons;

// The options sheet's view: a header naming the operation and its files, the rows of each
// option field, and a footer with "Remember as default", Cancel and "Apply". 420 points wide.
class OptionsForm : public QWidget {
    Q_OBJECT
public:
    OptionsForm(const QString& title, const QString& subtitle, const QList<OptionField>& fields,
                OptionsModel* model, bool canRemember, std::function<void()> cancel,
                std::function<void()> apply, QWidget* parent = nullptr);

    const QString& title() const { return m_title; }
    const QList<OptionField>& fields() const { return m_fields; }
    OptionsModel* model() const { return m_model; }

    bool canApply() const;
    // Apply: the sheet's own values into the options, then the apply action.
    void finalizeOptions();

    // Rows register how they follow the model; each runs after every change of it.
    void addRefresher(std::function<void()> refresh);

    EditorButtons* buttons() const { return m_buttons; }
    QCheckBox* rememberBox() const { return m_remember; }

private:
    void refresh();

    QString m_title;
    QList<OptionField> m_fields;
    OptionsModel* m_model;
    std::function<void()> m_apply;
    QList<std::function<void()>> m_refreshers;
    EditorButtons* m_buttons = nullptr;
    QCheckBox* m_remember = nullptr;
};

// Adds the rows of one field to the form's layout (the 31 kinds of row).
void optionRows(OptionsForm& form, OptionField field, QFormLayout* layout);

} // namespace qv
