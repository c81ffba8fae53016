#include "app/varnet.h"

void Varnet::Command1_Click()
{
}

void Varnet::Open_Click()
{
    Command1_Click();
}

void Varnet::OpenFi()
{
}
