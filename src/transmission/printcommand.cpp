#include "app/varnet.h"

#include <QRadioButton>

void Varnet::Command2_Click()
{
    if (Option2->isChecked())
        sendTcp();
}
