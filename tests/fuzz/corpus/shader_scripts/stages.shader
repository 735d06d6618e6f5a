// Every stage keyword the reader knows, in the forms the stock scripts use.
textures/seeds/stages
{
	{
		clampMap textures/seeds/flare.tga
		blendFunc GL_ONE GL_ONE
		alphaFunc GE128
		depthWrite
		depthFunc equal
		rgbGen wave triangle 0.5 0.5 0 0.25
		alphaGen wave sawtooth 0 1 0.5 2
		tcGen environment
		tcMod rotate 45
		tcMod stretch sin 0.9 0.1 0 0.5
		tcMod turb 0 0.25 0 0.1
		tcMod transform 1 0 0 1 0.5 0.5
		tcMod scroll 0.1 0
	}
	{
		animMap 10 f/1.tga f/2.tga f/3.tga f/4.tga f/5.tga f/6.tga f/7.tga f/8.tga f/9.tga
		rgbGen const ( 0.5 1.5 -1 )
		alphaGen portal 512
		tcGen vector ( 0.01 0 0 ) ( 0 0.01 0 )
		detail
	}
	{
		map $lightmap
		rgbGen exactVertex
		alphaGen lightingSpecular
		alphaFunc LT128
		tcMod turb noise 0 1 0 1
		depthFunc lequal
	}
	{
		map *white
		rgbGen oneMinusEntity
		alphaGen oneMinusVertex
		alphaFunc GT0
		tcGen base
		rgbGen wave inversesawtooth 0 1 0 1e30
		alphaGen const 0.3
		rgbGen lightingDiffuse
		tcMod stretch square 1 1 0 1
	}
}
