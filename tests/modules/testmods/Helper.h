#pragma once

#include <QByteArray>

QByteArray vyrTestHelperText();
