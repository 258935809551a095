#include "app/command_help.hpp"

namespace trajix::gui {

// The spacing inside the lines lines the descriptions up in a monospaced font.
const std::string_view commandHelpText =
    "Enter commands to control position, time and velocity of the output file:\r\n"
    "\r\n"
    "Commands to define initial conditions\r\n"
    "=====================================\r\n"
    "Time=xxxxx.xx      {time in seconds from midnight}\r\n"
    "Lat=+xxxx.xx       {latitude of starting point in degrees}\r\n"
    "Long=+xxxx.xx      {longitude of starting point in degrees}\r\n"
    "Height=+xxxx.xx    {height of starting point in metres}\r\n"
    "Heading=xxx.xx     {initial heading in degrees}\r\n"
    "\r\n"
    "Wait xxs           {Wait stationary for xx seconds}\r\n"
    "\r\n"
    "Commands to update trajectory\r\n"
    "=============================\r\n"
    "Vel=xxx@yyym       {change velocity to xxx in yyy metres}\r\n"
    "Vel=xxx@yyys       {change velocity to xxx in yyy seconds}\r\n"
    "Hdg=+xxx@yyym      {change heading by +(or-)xxx degrees, using radius of yyy metres}\r\n"
    "Hdg=+xxx@yyys      {change heading by +(or-)xxx degrees in yyy seconds}\r\n"
    "Height=xxx@yyys    {change height to xxx metres in yyy seconds}\r\n"
    "Height=xxx@yyym    {change height to xxx metres in yyy metres}\r\n"
    "wait xxxs          {stay stationary for xxx seconds, velocity must be zero first}";

}  // namespace trajix::gui
