a
{
{
map x.tga
}
}
}
b { /* block comment */ map
"quoted name" {
{ map
