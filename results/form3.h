#pragma once

#include "ui/form.h"

// The results window (placeholder until the ranking lists are built).
class Form3 : public ui::Form {
    Q_OBJECT
public:
    Form3();
};
