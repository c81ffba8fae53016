#include "app/varnet.h"

void Varnet::Command2_Click()
{
}
