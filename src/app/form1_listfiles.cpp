#include "form1.h"

#include <QPushButton>

void Form1::connectListFileControls()
{
}

void Form1::PushButton3_Click()
{
}
